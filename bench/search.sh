#!/bin/bash
# Times the duplicate search by content in kopiensieb-headless (add one folder, search, dump)
# against jdupes, fdupes and rdfind over the same trees, warm cache, and checks that every
# tool finds the same number of duplicate sets.
#
#   bash bench/search.sh [FOLDER]   corpora go to FOLDER (default /tmp/kopiensieb-search);
#                                   a finished corpus with the same parameters is reused
#   RUNS=5 bash bench/search.sh     timed runs of each tool per corpus (default 3; the best counts)
#
# Corpus A: 5,000 files of 50 KB to 3 MB (log-uniform), 20 % copies, 5 % same size but other
# content. Corpus B: 50,000 files of 4,096 bytes, 10 % copies.
set -euo pipefail
cd "$(dirname "$0")/.."
REPO=$(pwd)
BASE=${1:-/tmp/kopiensieb-search}
BASE=${BASE%/}
RUNS=${RUNS:-3}
BUILD=$REPO/build-bench-search

# GCC 12 at -O3 reports a false -Wrestrict inside std::string assignments (GCC bug 105329).
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKOPIENSIEB_SANITIZE=OFF \
  -DCMAKE_CXX_FLAGS=-Wno-error=restrict -DKOPIENSIEB_BUILD_GUI=OFF \
  -DKOPIENSIEB_BUILD_TESTS=OFF -DKOPIENSIEB_BUILD_BENCHMARKS=ON >/dev/null
cmake --build "$BUILD" --target kopiensieb-headless make_corpus -j2 >/dev/null
HEADLESS=$BUILD/kopiensieb-headless
MAKE_CORPUS=$BUILD/bench/make_corpus

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

# make_corpus DIR FILES MIN MAX COPY% SAME_SIZE% SEED. The marker beside the tree (not in
# it, where it would be searched) holds the arguments and the generator's summary line.
corpus() {
  local dir=$1
  shift
  local marker="$dir.corpus"
  if [ -f "$marker" ] && [ "$(head -n 1 "$marker")" = "$*" ]; then
    return
  fi
  echo "generating $dir ($*) ..." >&2
  rm -rf "$dir" "$marker"
  local summary
  summary=$("$MAKE_CORPUS" "$dir" "$@")
  printf '%s\n%s\n' "$*" "$summary" >"$marker"
}

# Runs a command with its output in a file; prints the wall seconds.
timed() {
  local out=$1
  shift
  /usr/bin/time -f '%e' -o "$WORK/time" "$@" >"$out" 2>"$WORK/stderr"
  cat "$WORK/time"
}

# Duplicate sets in the output of jdupes / fdupes: blocks of lines between blank lines.
count_blocks() {
  awk 'NF && !inside { sets++ } { inside = NF > 0 } END { print sets + 0 }' "$1"
}

# The groups are the rows of GroupsBox (control 4) in the dump line; the final line, written
# after shutdown, has no windows left.
count_ours() {
  grep -m 1 '"ended":false' "$1" | python3 -c '
import json, sys
state = json.loads(sys.stdin.read())
if state["passes"] != 3:
    print("? (%d passes)" % state["passes"])
    sys.exit(0)
for window in state["windows"]:
    for control in window["controls"]:
        if control["number"] == 4:
            print(len(control["rows"]))
            sys.exit(0)
print("?")'
}

best() {
  awk -v a="$1" -v b="${2:-$1}" 'BEGIN { print (a < b) ? a : b }'
}

run_corpus() {
  local label=$1 dir=$2
  local expected
  expected=$(sed -n 2p "$dir.corpus" | awk '{ print $6 }')
  local files bytes
  files=$(sed -n 2p "$dir.corpus" | awk '{ print $2 }')
  bytes=$(sed -n 2p "$dir.corpus" | awk '{ print $4 }')
  # Warm the page cache: every tool then reads from memory.
  find "$dir" -type f -print0 | xargs -0 cat >/dev/null

  local quoted
  quoted=$(python3 -c 'import json, sys; print(json.dumps(sys.argv[1]))' "$dir")
  # The availability rules run at the start of each pass, so the search button is enabled
  # only from the pass after the one that filled the catalogue: one idle message between.
  printf 'chooser %s\nclick 0\nidle 0\nclick 9\ndump\n' "$quoted" >"$WORK/script"
  mkdir -p "$WORK/rdfind"

  local t_ours="" t_jdupes="" t_fdupes="" t_rdfind="" t
  local run
  for ((run = 1; run <= RUNS; run++)); do
    t=$(timed "$WORK/ours.out" "$HEADLESS" "$WORK/script")
    t_ours=$(best "$t" "$t_ours")
    t=$(timed "$WORK/jdupes.out" jdupes -r -q "$dir")
    t_jdupes=$(best "$t" "$t_jdupes")
    t=$(timed "$WORK/fdupes.out" fdupes -r -q "$dir")
    t_fdupes=$(best "$t" "$t_fdupes")
    rm -f "$WORK/rdfind/results.txt"
    t=$( (cd "$WORK/rdfind" && timed "$WORK/rdfind.out" rdfind -dryrun true "$dir"))
    t_rdfind=$(best "$t" "$t_rdfind")
  done

  local s_ours s_jdupes s_fdupes s_rdfind
  s_ours=$(count_ours "$WORK/ours.out")
  s_jdupes=$(count_blocks "$WORK/jdupes.out")
  s_fdupes=$(count_blocks "$WORK/fdupes.out")
  # results.txt has one DUPTYPE_FIRST_OCCURRENCE line per set (comment lines start with #).
  s_rdfind=$(grep -c '^DUPTYPE_FIRST_OCCURRENCE' "$WORK/rdfind/results.txt" || true)

  local fastest
  fastest=$(best "$t_jdupes" "$(best "$t_fdupes" "$t_rdfind")")
  echo
  echo "corpus $label: $dir ($files files, $bytes bytes, $expected sets planted), best of $RUNS"
  printf '  %-22s %9s %7s\n' tool seconds sets
  printf '  %-22s %9s %7s\n' kopiensieb-headless "$t_ours" "$s_ours"
  printf '  %-22s %9s %7s\n' "jdupes -r" "$t_jdupes" "$s_jdupes"
  printf '  %-22s %9s %7s\n' "fdupes -r" "$t_fdupes" "$s_fdupes"
  printf '  %-22s %9s %7s\n' "rdfind -dryrun true" "$t_rdfind" "$s_rdfind"
  awk -v o="$t_ours" -v f="$fastest" 'BEGIN {
    if (f > 0) printf "  ours / fastest peer: %.2f\n", o / f
    else print "  ours / fastest peer: (peer under 0.01 s)" }'
  if [ "$s_ours" = "$expected" ] && [ "$s_jdupes" = "$expected" ] &&
    [ "$s_fdupes" = "$expected" ] && [ "$s_rdfind" = "$expected" ]; then
    echo "  sets agree: $expected"
  else
    echo "  SETS DISAGREE (planted $expected)"
    status=1
  fi
}

status=0
mkdir -p "$BASE"
corpus "$BASE/a" 5000 50000 3000000 20 5 20240601
corpus "$BASE/b" 50000 4096 4096 10 0 20240602
run_corpus A "$BASE/a"
run_corpus B "$BASE/b"
exit $status
