#!/bin/sh
# Cross-builds the Windows programs and their tests into build-windows/ (mingw-w64).
set -eu
cd "$(dirname "$0")/.."
cmake --preset windows "$@"
cmake --build build-windows -j2
