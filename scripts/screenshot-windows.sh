#!/bin/sh
# Photographs the Windows program's windows under Wine on a virtual X screen and writes the
# PNGs into screenshots/: the main window after a search with a group chosen, and the ToDelete
# window. Wine draws the frames itself, as Windows would (no window manager's frames).
# Usage: scripts/screenshot-windows.sh (after scripts/build-windows.sh)
set -eu
cd "$(dirname "$0")/.."
cmake --build build-windows --target kopiensieb_win32_screenshot -j2
mkdir -p screenshots
export WINEPREFIX="$(pwd)/build-windows/wine-prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot --init >/dev/null 2>&1
fi
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
out="$(pwd)/screenshots"
# Both on the virtual screen: Wine's desktop starts with the first program and stays on the
# display it found.
xvfb-run -a -s "-screen 0 1024x768x24" sh -c '
  "$1" reg add "HKCU\\Software\\Wine\\X11 Driver" /v Managed /d N /f >/dev/null 2>&1
  "$1" "$2" "Z:$3" </dev/null
' screenshot "$wine" build-windows/tests/kopiensieb_win32_screenshot.exe "$out"
for shot in main todelete; do
  convert "$out/kopiensieb-win32-$shot.bmp" "$out/kopiensieb-win32-$shot.png"
  rm -f "$out/kopiensieb-win32-$shot.bmp"
done
