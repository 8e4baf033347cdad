#!/bin/bash
# The scale run: one folder of 1,000,000 small files (1 byte to 2 KiB, 7 % copies, 5 % same
# size but other content) in a tree three wide and ten deep (88,573 folders), made by the
# seeded generator. Times kopiensieb-headless adding the folder alone, and adding it plus a
# search by content plus a search by name, with the peak memory (RSS) and the bytes per file;
# `find -printf '%s\n'` over the same tree for scale. Warm cache.
#
#   bash bench/scale.sh [FOLDER]   the tree goes to FOLDER (default /tmp/kopiensieb-scale);
#                                  a finished tree with the same parameters is reused
#   RUNS=3 bash bench/scale.sh     timed runs of each (default 3; the median counts); the
#                                  commands take turns, round by round
#   FILES=200000 bash bench/scale.sh   another number of files
#   BASELINE=/path/kopiensieb-headless   times another build of ours the same way (rows "base")
set -euo pipefail
cd "$(dirname "$0")/.."
REPO=$(pwd)
TREE=${1:-/tmp/kopiensieb-scale}
TREE=${TREE%/}
RUNS=${RUNS:-3}
FILES=${FILES:-1000000}
BASELINE=${BASELINE:-}
BUILD=$REPO/build-bench-search

# GCC 12 at -O3 reports a false -Wrestrict inside std::string assignments (GCC bug 105329).
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKOPIENSIEB_SANITIZE=OFF \
  -DCMAKE_CXX_FLAGS=-Wno-error=restrict -DKOPIENSIEB_BUILD_GUI=OFF \
  -DKOPIENSIEB_BUILD_TESTS=OFF -DKOPIENSIEB_BUILD_BENCHMARKS=ON >/dev/null
cmake --build "$BUILD" --target kopiensieb-headless make_corpus -j2 >/dev/null
HEADLESS=$BUILD/kopiensieb-headless

ARGUMENTS="$FILES 1 2048 7 5 20240604 10"
MARKER="$TREE.corpus"
if [ ! -f "$MARKER" ] || [ "$(head -n 1 "$MARKER")" != "$ARGUMENTS" ]; then
  echo "generating $TREE ($ARGUMENTS) ..." >&2
  rm -rf "$TREE" "$MARKER"
  # shellcheck disable=SC2086
  summary=$("$BUILD/bench/make_corpus" "$TREE" $ARGUMENTS)
  printf '%s\n%s\n' "$ARGUMENTS" "$summary" >"$MARKER"
fi
SETS=$(sed -n 2p "$MARKER" | awk '{ print $6 }')

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
QUOTED=$(python3 -c 'import json, sys; print(json.dumps(sys.argv[1]))' "$TREE")
# One idle message after the scan: the search buttons are enabled from the next pass on.
printf 'chooser %s\nclick 0\nidle 0\n' "$QUOTED" >"$WORK/scan"
printf 'chooser %s\nclick 0\nidle 0\nclick 9\nidle 0\nclick 13\nidle 0\n' "$QUOTED" >"$WORK/all"
printf 'chooser %s\nclick 0\nidle 0\nclick 9\nidle 0\ndump\n' "$QUOTED" >"$WORK/count"

find "$TREE" -type f -print0 | xargs -0 cat >/dev/null

# The runs take turns: each round runs every measured command once, so that the machine's
# speed drifting over the minutes falls on all of them alike.
declare -A RESULTS
run_once() {
  local key=$1
  shift
  /usr/bin/time -f '%e %M' -o "$WORK/time" "$@" >/dev/null 2>"$WORK/stderr"
  RESULTS[$key]+="$(cat "$WORK/time")"$'\n'
}
# Prints "seconds peak-KiB" of the median run (by seconds).
median_of() {
  printf '%s' "${RESULTS[$1]}" | sort -n |
    awk -v n="$RUNS" '{ line[NR] = $0 } END { print line[int((n + 1) / 2)] }'
}

echo "load: $(uptime)"
for ((run = 1; run <= RUNS; run++)); do
  run_once find find "$TREE" -printf '%s\n'
  run_once scan "$HEADLESS" "$WORK/scan"
  run_once all "$HEADLESS" "$WORK/all"
  if [ -n "$BASELINE" ]; then
    run_once base_scan "$BASELINE" "$WORK/scan"
    run_once base_all "$BASELINE" "$WORK/all"
  fi
done
read -r t_find _ <<<"$(median_of find)"
read -r t_scan m_scan <<<"$(median_of scan)"
read -r t_all m_all <<<"$(median_of all)"
if [ -n "$BASELINE" ]; then
  read -r b_scan bm_scan <<<"$(median_of base_scan)"
  read -r b_all bm_all <<<"$(median_of base_all)"
fi
"$HEADLESS" "$WORK/count" >"$WORK/count.out"
groups=$(grep -m 1 '"ended":false' "$WORK/count.out" | python3 -c '
import json, sys
state = json.loads(sys.stdin.read())
print(next(len(c["rows"]) for w in state["windows"] for c in w["controls"] if c["number"] == 4))')
echo "tree $TREE: $FILES files, $(find "$TREE" -type d | wc -l) folders, $SETS sets; median of $RUNS, warm"
awk -v f="$FILES" -v tf="$t_find" -v ts="$t_scan" -v ms="$m_scan" -v ta="$t_all" -v ma="$m_all" 'BEGIN {
  printf "  find -printf                      %7.2f s\n", tf
  printf "  folder scan alone                 %7.2f s  peak %7.1f MiB  %5.0f bytes/file  (%.2f x find)\n",
    ts, ms / 1024, ms * 1024 / f, ts / tf
  printf "  scan + content + name search      %7.2f s  peak %7.1f MiB  %5.0f bytes/file\n",
    ta, ma / 1024, ma * 1024 / f }'
if [ -n "$BASELINE" ]; then
  awk -v f="$FILES" -v tf="$t_find" -v ts="$b_scan" -v ms="$bm_scan" -v ta="$b_all" -v ma="$bm_all" 'BEGIN {
  printf "  base: folder scan alone           %7.2f s  peak %7.1f MiB  %5.0f bytes/file  (%.2f x find)\n",
    ts, ms / 1024, ms * 1024 / f, ts / tf
  printf "  base: scan + content + name search %6.2f s  peak %7.1f MiB  %5.0f bytes/file\n",
    ta, ma / 1024, ma * 1024 / f }'
fi
echo "  groups after the content search: $groups (sets planted: $SETS)"
echo "load: $(uptime)"
[ "$groups" = "$SETS" ]
