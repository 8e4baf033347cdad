#!/bin/sh
# The churn of tests/e2e/churn.py with a longer bound: scan, search, marking and "Mark. löschen"
# through kopiensieb-headless while another process keeps changing the tree; checks that no
# content loses its last copy, nothing outside the tree is touched and nothing unchosen is
# deleted, and prints the figures (rounds, churn operations survived, files checked).
#
#   sh bench/churn.sh [SECONDS] [SEED]     SECONDS defaults to 60, SEED to 1
#   SANITIZE=ON sh bench/churn.sh 60       the same on the AddressSanitizer build
set -eu
cd "$(dirname "$0")/.."
SECONDS_BOUND=${1:-60}
SEED=${2:-1}
SANITIZE=${SANITIZE:-OFF}
BUILD=build-churn
if [ "$SANITIZE" = ON ]; then
  BUILD=build-churn-asan
fi
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKOPIENSIEB_SANITIZE="$SANITIZE" \
  -DKOPIENSIEB_BUILD_GUI=OFF -DKOPIENSIEB_BUILD_TESTS=OFF -DKOPIENSIEB_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$BUILD" --target kopiensieb-headless -j2
KOPIENSIEB_HEADLESS=$(pwd)/$BUILD/kopiensieb-headless
export KOPIENSIEB_HEADLESS
cd tests/e2e
exec python3 churn.py --seconds "$SECONDS_BOUND" --seed "$SEED"
