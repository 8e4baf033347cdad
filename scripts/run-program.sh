#!/bin/sh
# Builds the optimised program and starts the desktop window.
set -eu
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DKOPIENSIEB_BUILD_TESTS=OFF
cmake --build build
exec ./build/kopiensieb "$@"
