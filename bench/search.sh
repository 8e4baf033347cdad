#!/bin/bash
# Times the duplicate search by content in kopiensieb-headless (add one folder, search)
# against jdupes, fdupes, rdfind, duff and rmlint over the same trees, and the folder scan
# alone (add one folder) against `find DIR -printf '%s\n'`. Checks that every tool
# finds the same number of duplicate sets.
#
#   bash bench/search.sh [--cold] [FOLDER]
#       corpora go to FOLDER (default /tmp/kopiensieb-search); a finished corpus with the same
#       parameters is reused. Warm: the page cache holds every corpus file before the runs.
#       --cold: the page cache is dropped before every single run (needs root; without it the
#       cold runs are skipped, and the script says so).
#   RUNS=5 bash bench/search.sh          timed runs of each tool per corpus (default 5; the
#                                        median counts). The runs of the tools take turns.
#   CORPORA="A C" bash bench/search.sh   only these corpora (default "A B C")
#   BASELINE=/path/kopiensieb-headless   times another build of ours side by side (row "base")
#   PEERS="jdupes duff"                  only these peers (default: all five; rmlint takes
#                                        minutes on corpus C)
#
# Corpus A: 5,000 files of 50 KB to 3 MB (log-uniform), 20 % copies, 5 % same size but other
# content. Corpus B: 50,000 files of 4,096 bytes, 10 % copies. Corpus C: 200,000 files of
# 1 byte to 2 KiB (uniform), 7 % copies, 5 % same size, dealt over 9,841 folders three wide and
# eight deep. Peers run with their defaults; those missing are installed from apt when run as
# root (benchmark only: the tests never need them).
set -euo pipefail
COLD=0
if [ "${1:-}" = "--cold" ]; then
  COLD=1
  shift
fi
cd "$(dirname "$0")/.."
REPO=$(pwd)
BASE=${1:-/tmp/kopiensieb-search}
BASE=${BASE%/}
RUNS=${RUNS:-5}
CORPORA=${CORPORA:-A B C}
BASELINE=${BASELINE:-}
PEERS=${PEERS:-jdupes fdupes rdfind duff rmlint}
BUILD=$REPO/build-bench-search

if [ "$COLD" = 1 ] && [ "$(id -u)" != 0 ]; then
  echo "--cold needs root to drop the page cache: cold runs skipped"
  exit 0
fi

missing=""
for tool in $PEERS; do
  command -v "$tool" >/dev/null || missing="$missing $tool"
done
if [ -n "$missing" ]; then
  if [ "$(id -u)" = 0 ]; then
    echo "installing$missing ..." >&2
    # shellcheck disable=SC2086
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q $missing >/dev/null
  else
    echo "missing peers:$missing (install them, or run as root)" >&2
    exit 1
  fi
fi

# GCC 12 at -O3 reports a false -Wrestrict inside std::string assignments (GCC bug 105329).
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKOPIENSIEB_SANITIZE=OFF \
  -DCMAKE_CXX_FLAGS=-Wno-error=restrict -DKOPIENSIEB_BUILD_GUI=OFF \
  -DKOPIENSIEB_BUILD_TESTS=OFF -DKOPIENSIEB_BUILD_BENCHMARKS=ON >/dev/null
cmake --build "$BUILD" --target kopiensieb-headless make_corpus -j2 >/dev/null
HEADLESS=$BUILD/kopiensieb-headless
MAKE_CORPUS=$BUILD/bench/make_corpus

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

# make_corpus DIR FILES MIN MAX COPY% SAME_SIZE% SEED [DEPTH]. The marker beside the tree (not
# in it, where it would be searched) holds the arguments and the generator's summary line.
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

# Cold: nothing of the corpus (data, inodes, folders) is cached when a run starts.
prepare_run() {
  if [ "$COLD" = 1 ]; then
    sync
    echo 3 >/proc/sys/vm/drop_caches
  fi
}

# Runs a command with its output in a file (in the current folder); prints the wall seconds
# to the millisecond. The shell's own clock costs no process, so nothing but the command's
# start and end falls between the readings.
timed() {
  local out=$1 start end
  shift
  prepare_run
  start=$EPOCHREALTIME
  "$@" >"$out" 2>"$WORK/stderr"
  end=$EPOCHREALTIME
  # (A locale may write the clock with a decimal comma.)
  awk -v start="${start/,/.}" -v end="${end/,/.}" 'BEGIN { printf "%.3f\n", end - start }'
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
for window in state["windows"]:
    for control in window["controls"]:
        if control["number"] == 4:
            print(len(control["rows"]))
            sys.exit(0)
print("?")'
}

count_rmlint() {
  python3 -c '
import json, sys
entries = json.load(open(sys.argv[1]))
print(sum(1 for e in entries if e.get("type") == "duplicate_file" and e.get("is_original")))' "$1"
}

median() {
  tr ' ' '\n' | grep . | sort -n | awk '{ v[NR] = $1 } END {
    if (NR % 2) print v[(NR + 1) / 2]; else printf "%.2f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

declare -A TIMES SETS

# One timed run of one tool; its set count is taken from the last run.
run_tool() {
  local tool=$1 dir=$2
  local t
  case $tool in
  ours | base)
    local binary=$HEADLESS
    [ "$tool" = base ] && binary=$BASELINE
    t=$(timed "$WORK/$tool.out" "$binary" "$WORK/search-script")
    ;;
  jdupes)
    t=$(timed "$WORK/jdupes.out" jdupes -r -q "$dir")
    SETS[$tool]=$(count_blocks "$WORK/jdupes.out")
    ;;
  fdupes)
    t=$(timed "$WORK/fdupes.out" fdupes -r -n -q "$dir")
    SETS[$tool]=$(count_blocks "$WORK/fdupes.out")
    ;;
  rdfind)
    rm -f "$WORK/rdfind/results.txt"
    t=$(cd "$WORK/rdfind" && timed "$WORK/rdfind.out" rdfind -dryrun true "$dir")
    # results.txt has one DUPTYPE_FIRST_OCCURRENCE line per set.
    SETS[$tool]=$(grep -c '^DUPTYPE_FIRST_OCCURRENCE' "$WORK/rdfind/results.txt" || true)
    ;;
  duff)
    # Without -q each set starts with a line "N files in cluster ...".
    t=$(timed "$WORK/duff.out" duff -r -z "$dir")
    SETS[$tool]=$(grep -c ' files in cluster ' "$WORK/duff.out" || true)
    ;;
  rmlint)
    t=$(cd "$WORK/rdfind" && timed "$WORK/rmlint.out" rmlint -T df -o "json:$WORK/rmlint.json" "$dir")
    SETS[$tool]=$(count_rmlint "$WORK/rmlint.json")
    ;;
  scan)
    t=$(timed "$WORK/scan.out" "$HEADLESS" "$WORK/scan-script")
    ;;
  find)
    t=$(timed "$WORK/find.out" find "$dir" -printf '%s\n')
    ;;
  esac
  TIMES[$tool]="${TIMES[$tool]:-} $t"
}

run_corpus() {
  local label=$1 dir=$2
  local expected files bytes
  expected=$(sed -n 2p "$dir.corpus" | awk '{ print $6 }')
  files=$(sed -n 2p "$dir.corpus" | awk '{ print $2 }')
  bytes=$(sed -n 2p "$dir.corpus" | awk '{ print $4 }')
  if [ "$COLD" = 0 ]; then
    # Warm the page cache: every tool then reads from memory.
    find "$dir" -type f -print0 | xargs -0 cat >/dev/null
  fi

  local quoted
  quoted=$(python3 -c 'import json, sys; print(json.dumps(sys.argv[1]))' "$dir")
  # The availability rules run at the start of each pass, so the search button is enabled
  # only from the pass after the one that filled the catalogue: one idle message between.
  # The timed runs end with the groups in the window; the dump that counts them (every
  # catalogued file and every group as JSON, 0.4 s for corpus C) is written by one more run
  # of each build, untimed.
  printf 'chooser %s\nclick 0\nidle 0\nclick 9\n' "$quoted" >"$WORK/search-script"
  printf 'chooser %s\nclick 0\nidle 0\nclick 9\ndump\n' "$quoted" >"$WORK/count-script"
  printf 'chooser %s\nclick 0\nidle 0\n' "$quoted" >"$WORK/scan-script"
  mkdir -p "$WORK/rdfind"

  local tools="ours $PEERS"
  [ -n "$BASELINE" ] && tools="$tools base"
  TIMES=()
  SETS=()
  local run tool
  for ((run = 1; run <= RUNS; run++)); do
    for tool in $tools scan find; do
      run_tool "$tool" "$dir"
    done
  done

  "$HEADLESS" "$WORK/count-script" >"$WORK/ours.out"
  SETS[ours]=$(count_ours "$WORK/ours.out")
  if [ -n "$BASELINE" ]; then
    "$BASELINE" "$WORK/count-script" >"$WORK/base.out"
    SETS[base]=$(count_ours "$WORK/base.out")
  fi

  local fastest="" fastest_tool="" m
  declare -A MEDIAN
  for tool in $tools scan find; do
    MEDIAN[$tool]=$(echo "${TIMES[$tool]}" | median)
  done
  for tool in $PEERS; do
    m=${MEDIAN[$tool]}
    if [ -z "$fastest" ] || awk -v a="$m" -v b="$fastest" 'BEGIN { exit !(a < b) }'; then
      fastest=$m
      fastest_tool=$tool
    fi
  done
  echo
  echo "corpus $label ($( [ "$COLD" = 1 ] && echo cold || echo warm )): $dir" \
    "($files files, $bytes bytes, $expected sets), median of $RUNS"
  printf '  %-8s %9s %7s %9s  %s\n' tool seconds sets "/fastest" runs
  local agree=1
  for tool in $tools; do
    awk -v t="$tool" -v m="${MEDIAN[$tool]}" -v s="${SETS[$tool]}" -v f="$fastest" \
      -v r="${TIMES[$tool]}" 'BEGIN {
      printf "  %-8s %9s %7s %9s  %s\n", t, m, s, (f > 0) ? sprintf("%.2f", m / f) : "-", r }'
    [ "${SETS[$tool]}" = "$expected" ] || agree=0
  done
  echo "  fastest peer: $fastest_tool"
  awk -v s="${MEDIAN[scan]}" -v f="${MEDIAN[find]}" -v rs="${TIMES[scan]}" -v rf="${TIMES[find]}" 'BEGIN {
    printf "  folder scan alone %s s, find -printf %s s, ratio %s  (runs%s /%s)\n", s, f,
      (f > 0) ? sprintf("%.2f", s / f) : "-", rs, rf }'
  if [ "$agree" = 1 ]; then
    echo "  sets agree: $expected"
  else
    echo "  SETS DISAGREE (expected $expected)"
    status=1
  fi
}

status=0
mkdir -p "$BASE"
echo "load: $(uptime)"
for label in $CORPORA; do
  case $label in
  A) corpus "$BASE/a" 5000 50000 3000000 20 5 20240601 ;;
  B) corpus "$BASE/b" 50000 4096 4096 10 0 20240602 ;;
  C) corpus "$BASE/c" 200000 1 2048 7 5 20240603 8 ;;
  *) echo "unknown corpus $label" >&2 && exit 2 ;;
  esac
  run_corpus "$label" "$BASE/$(echo "$label" | tr 'A-Z' 'a-z')"
done
echo "load: $(uptime)"
exit $status
