#!/bin/sh
# Builds Kopiensieb with AddressSanitizer and UBSan and runs every test through ctest; then
# cross-builds the Windows programs and runs their tests under Wine (scripts/run-windows-tests.sh;
# KOPIENSIEB_SKIP_WINDOWS=1 leaves that out). Arguments go to the Linux ctest.
set -eu
cd "$(dirname "$0")/.."
cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKOPIENSIEB_SANITIZE=ON \
  -DKOPIENSIEB_WERROR=ON -DKOPIENSIEB_BUILD_BENCHMARKS=OFF
cmake --build build-test
ctest --test-dir build-test --output-on-failure -j2 --timeout 900 "$@"
if [ "${KOPIENSIEB_SKIP_WINDOWS:-0}" != 1 ]; then
  sh scripts/run-windows-tests.sh
fi
