#!/bin/sh
# Cross-builds Kopiensieb for Windows and runs its tests under Wine through ctest: the unit
# tests that are not POSIX-specific, the end-to-end scripts through kopiensieb-headless.exe,
# and the same scripts through kopiensieb-win32-driver.exe on the real windows (parity).
# Arguments go to ctest.
set -eu
cd "$(dirname "$0")/.."
sh scripts/build-windows.sh

# A prefix of the project's own, made once; no Mono or Gecko (no installer dialogs).
export WINEPREFIX="$(pwd)/build-windows/wine-prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

# The real windows need a screen: a virtual one of this run's own, on a display number the X
# server picks itself (so parallel runs never meet), gone when the run ends. No window manager:
# the driver acts through the controls' messages, not through the pointer or the keyboard focus.
screen_log="$(pwd)/build-windows/xvfb.log"
display_file="$(mktemp)"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$display_file" \
  >"$screen_log" 2>&1 &
xvfb=$!
stop() {
  wineserver -k 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
  wait "$xvfb" 2>/dev/null || true
  rm -f "$display_file"
}
trap stop EXIT
trap 'exit 130' INT TERM
# The server writes its display number once it accepts connections.
waited=0
while [ ! -s "$display_file" ]; do
  if ! kill -0 "$xvfb" 2>/dev/null || [ "$waited" -ge 100 ]; then
    echo "run-windows-tests: the virtual screen did not start:" >&2
    cat "$screen_log" >&2
    exit 1
  fi
  sleep 0.1
  waited=$((waited + 1))
done
export DISPLAY=":$(head -n 1 "$display_file")"

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot --init >/dev/null 2>&1
fi
# A server that stays up between the test programs: Wine's start-up then costs a fraction of
# a second per process instead of most of a second.
wineserver -p || true  # 2: one runs already for this prefix, and serves as well
# Wine's own background services start with the first program and keep its standard output
# open for as long as the server runs; started here, they hold /dev/null instead of a test's
# pipe, which its runner would otherwise wait on for ever.
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
"$wine" cmd.exe /c exit </dev/null >/dev/null 2>&1 || true
ctest --test-dir build-windows --output-on-failure -j2 --timeout 900 "$@"
