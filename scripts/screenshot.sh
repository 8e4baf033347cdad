#!/bin/sh
# Photographs the desktop program's windows on a virtual X screen (real xcb platform) and
# writes the PNGs into screenshots/. Usage: scripts/screenshot.sh [BUILD_FOLDER]
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
xvfb-run -a -s "-screen 0 1024x768x24" \
  env QT_QPA_PLATFORM=xcb ASAN_OPTIONS=detect_leaks=0 \
  "$build/tests/kopiensieb_screenshot" "$(pwd)/screenshots"
