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
# server picks itself (so parallel runs never meet), gone when the run ends.
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
# Waits up to ten seconds for a condition (a command), while the X server lives.
await() {
  waited=0
  until "$@"; do
    if ! kill -0 "$xvfb" 2>/dev/null || [ "$waited" -ge 100 ]; then
      echo "run-windows-tests: the virtual screen did not come up:" >&2
      cat "$screen_log" >&2
      exit 1
    fi
    sleep 0.1
    waited=$((waited + 1))
  done
}
# The server writes its display number once it accepts connections.
await test -s "$display_file"
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
# No window manager runs on the screen, so Wine frames its windows itself: a window left to
# a manager would make Wine wait two seconds for the manager's answer whenever it is hidden
# or disabled (each message box does both), and a manager's focus moves would come in between
# the tests' own.
"$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
# Wine's desktop process starts with the first program that opens a window, inherits its
# output, and ends one second after the last such program: every test program on the real
# windows would wait a second for its output to close. A program kept open for the whole run
# (Wine's notepad, minimised, ended with the server) holds the desktop instead.
# Its window on the screen means the desktop runs; a test program started earlier would start
# the desktop itself and lend it its output for the rest of the run.
"$wine" cmd.exe /c start /min notepad.exe </dev/null >/dev/null 2>&1 || true
shown() { xwininfo -root -tree 2>/dev/null | grep -q '("notepad.exe"'; }
await shown
# Now and then a program under Wine ends with code 1 and no message on its error output (about
# once in twenty runs of the suite on a busy machine): a test that fails runs
# once more, and the log keeps the failed attempt.
ctest --test-dir build-windows --output-on-failure -j2 --timeout 900 --repeat until-pass:2 "$@"
