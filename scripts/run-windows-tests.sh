#!/bin/sh
# Cross-builds Kopiensieb for Windows and runs its tests under Wine through ctest: the unit
# tests that are not POSIX-specific and the end-to-end scripts through kopiensieb-headless.exe.
# Arguments go to ctest.
set -eu
cd "$(dirname "$0")/.."
sh scripts/build-windows.sh

# A prefix of the project's own, made once; no Mono or Gecko (no installer dialogs).
export WINEPREFIX="$(pwd)/build-windows/wine-prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot --init >/dev/null 2>&1
fi
# A server that stays up between the test programs: Wine's start-up then costs a fraction of
# a second per process instead of most of a second.
wineserver -p
trap 'wineserver -k 2>/dev/null || true' EXIT INT TERM
ctest --test-dir build-windows --output-on-failure -j2 --timeout 900 "$@"
