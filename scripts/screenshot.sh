#!/bin/sh
# Photographs the desktop program's windows on a virtual X screen (real xcb platform, with the
# openbox window manager drawing the frames) and writes the PNGs into screenshots/: the folder
# dialog, the main window after a search with a group chosen, and the ToDelete window.
# Usage: scripts/screenshot.sh [BUILD_FOLDER]
# Without a build folder, one is configured in build-screenshot.
set -eu
cd "$(dirname "$0")/.."
build="${1:-build-screenshot}"
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKOPIENSIEB_BUILD_BENCHMARKS=OFF
fi
cmake --build "$build" --target kopiensieb_screenshot -j2
mkdir -p screenshots
# The session: a window manager, then the tool once the manager has taken the screen.
# Under an English locale on purpose: the program and its dialogs speak German anyway.
xvfb-run -a -s "-screen 0 1024x768x24" env LANG=C.UTF-8 LANGUAGE= sh -c '
  openbox --sm-disable >/dev/null 2>&1 &
  manager=$!
  sleep 1
  status=0
  env QT_QPA_PLATFORM=xcb ASAN_OPTIONS=detect_leaks=0 "$1" "$2" || status=$?
  kill "$manager" 2>/dev/null || true
  exit "$status"
' screenshot "$build/tests/kopiensieb_screenshot" "$(pwd)/screenshots"
