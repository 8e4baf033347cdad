#!/bin/sh
# Times adding one folder of 200,000 files (about 2,000 folders) in kopiensieb-headless
# against `find -printf '%s\n'` over the same tree, warm cache, and reports the peak memory
# per catalogued file.
#
#   sh bench/scan.sh [TREE]      TREE defaults to /tmp/kopiensieb-scan-tree; reused if complete
#   RUNS=5 sh bench/scan.sh      timed runs of each command (default 3, after one warm-up)
set -eu
cd "$(dirname "$0")/.."
REPO=$(pwd)
TREE=${1:-/tmp/kopiensieb-scan-tree}
TREE=${TREE%/}
RUNS=${RUNS:-3}
TOP_FOLDERS=20
SUB_FOLDERS=100
FILES_PER_FOLDER=100
FILES=$((TOP_FOLDERS * SUB_FOLDERS * FILES_PER_FOLDER))

# GCC 12 at -O3 reports a false -Wrestrict inside std::string assignments (GCC bug 105329);
# it is kept a warning here so that the benchmark does not hinge on the compiler's version.
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DKOPIENSIEB_SANITIZE=OFF \
  -DCMAKE_CXX_FLAGS=-Wno-error=restrict \
  -DKOPIENSIEB_BUILD_GUI=OFF -DKOPIENSIEB_BUILD_TESTS=OFF -DKOPIENSIEB_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build build-bench --target kopiensieb-headless -j2
HEADLESS=$REPO/build-bench/kopiensieb-headless

# The tree: sparse files of assorted sizes (no disk blocks), so that the scan sees real sizes
# while the tree stays cheap. A marker beside the tree (not in it, where it would be
# catalogued) tells a finished tree from one cut short.
MARKER="$TREE.complete"
if [ ! -f "$MARKER" ]; then
  echo "creating $FILES files in $TREE ..."
  rm -rf "$TREE" "$MARKER"
  python3 - "$TREE" "$TOP_FOLDERS" "$SUB_FOLDERS" "$FILES_PER_FOLDER" <<'EOF'
import os, sys
root, top, sub, per = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
number = 0
for t in range(top):
    for s in range(sub):
        folder = os.path.join(root, f"t{t:02d}", f"s{s:03d}")
        os.makedirs(folder)
        for f in range(per):
            extension = ("txt", "jpg", "doc", "bak")[number % 4]
            with open(os.path.join(folder, f"datei{number:06d}.{extension}"), "wb") as out:
                out.truncate((number * 7919) % 200000)
            number += 1
EOF
  touch "$MARKER"
fi
FOLDERS=$(find "$TREE" -type d | wc -l)
echo "tree: $TREE ($FILES files, $FOLDERS folders)"

SCRIPT=$(mktemp)
DUMP_SCRIPT=$(mktemp)
MEASURE=$(mktemp)
trap 'rm -f "$SCRIPT" "$DUMP_SCRIPT" "$MEASURE"' EXIT
QUOTED=$(python3 -c 'import json, sys; print(json.dumps(sys.argv[1]))' "$TREE")
printf 'chooser %s\nclick 0\n' "$QUOTED" >"$SCRIPT"
printf 'chooser %s\nclick 0\ndump\n' "$QUOTED" >"$DUMP_SCRIPT"

# Runs a command, stdout to /dev/null; prints "WALL_SECONDS PEAK_KB CPU_SECONDS". The CPU time
# (user + system) is the steadier figure on a machine that others share.
measure() {
  if [ -x /usr/bin/time ]; then
    /usr/bin/time -f '%e %M %U %S' -o "$MEASURE" "$@" >/dev/null
    awk '{ printf "%s %s %.2f\n", $1, $2, $3 + $4 }' "$MEASURE"
  else
    python3 - "$@" <<'EOF'
import resource, subprocess, sys, time
start = time.perf_counter()
subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, check=True)
elapsed = time.perf_counter() - start
usage = resource.getrusage(resource.RUSAGE_CHILDREN)
print(f"{elapsed:.2f} {usage.ru_maxrss} {usage.ru_utime + usage.ru_stime:.2f}")
EOF
  fi
}

smaller() {
  awk -v a="$1" -v b="${2:-$1}" 'BEGIN { print (a < b) ? a : b }'
}

# Warm the cache once with each.
find "$TREE" -type f -printf '%s\n' >/dev/null
"$HEADLESS" "$SCRIPT" >/dev/null

best_find=""
best_scan=""
best_find_cpu=""
best_scan_cpu=""
peak_kb=0
run=1
while [ "$run" -le "$RUNS" ]; do
  set -- $(measure find "$TREE" -type f -printf '%s\n')
  find_time=$1
  find_cpu=$3
  set -- $(measure "$HEADLESS" "$SCRIPT")
  scan_time=$1
  scan_kb=$2
  scan_cpu=$3
  echo "run $run: find ${find_time} s (cpu ${find_cpu} s)," \
    "kopiensieb-headless ${scan_time} s (cpu ${scan_cpu} s, peak ${scan_kb} KiB)"
  best_find=$(smaller "$find_time" "$best_find")
  best_scan=$(smaller "$scan_time" "$best_scan")
  best_find_cpu=$(smaller "$find_cpu" "$best_find_cpu")
  best_scan_cpu=$(smaller "$scan_cpu" "$best_scan_cpu")
  [ "$scan_kb" -gt "$peak_kb" ] && peak_kb=$scan_kb
  run=$((run + 1))
done

# One more run that also prints the whole list, to see what a dump of it costs and to read
# how many files the program catalogued.
DUMP_OUT=$(mktemp)
set -- $(/usr/bin/env sh -c '
  start=$(date +%s.%N); "$1" "$2" >"$3"; end=$(date +%s.%N)
  echo "$start $end"' sh "$HEADLESS" "$DUMP_SCRIPT" "$DUMP_OUT")
dump_time=$(awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b - a }')
catalogued=$(head -n 1 "$DUMP_OUT" | grep -o '"Alle Dateien ([0-9]*)"' | grep -o '[0-9][0-9]*')
dump_bytes=$(head -n 1 "$DUMP_OUT" | wc -c)
rm -f "$DUMP_OUT"

echo
echo "files catalogued:           ${catalogued:-?} (tree holds $FILES)"
echo "find, best of $RUNS:          ${best_find} s wall, ${best_find_cpu} s cpu"
echo "kopiensieb-headless, best:  ${best_scan} s wall, ${best_scan_cpu} s cpu"
awk -v s="$best_scan" -v f="$best_find" -v sc="$best_scan_cpu" -v fc="$best_find_cpu" 'BEGIN {
  if (f > 0) printf "ratio scan / find:          %.2f wall", s / f
  else printf "ratio scan / find:          (find under 0.01 s wall)"
  if (fc > 0) printf ", %.2f cpu\n", sc / fc
  else printf ", (find under 0.01 s cpu)\n" }'
awk -v kb="$peak_kb" -v n="${catalogued:-$FILES}" 'BEGIN {
  printf "peak RSS:                   %d KiB, %.0f bytes per catalogued file\n", kb, kb * 1024 / n }'
echo "scan + dump of every row:   ${dump_time} s (dump line ${dump_bytes} bytes)"
