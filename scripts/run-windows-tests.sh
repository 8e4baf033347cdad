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
wineserver -p || true  # 2: one runs already for this prefix, and serves as well
trap 'wineserver -k 2>/dev/null || true' EXIT INT TERM
# Wine's own background services start with the first program and keep its standard output
# open for as long as the server runs; started here, they hold /dev/null instead of a test's
# pipe, which its runner would otherwise wait on for ever.
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
"$wine" cmd.exe /c exit </dev/null >/dev/null 2>&1 || true
ctest --test-dir build-windows --output-on-failure -j2 --timeout 900 "$@"
