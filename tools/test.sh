#!/usr/bin/env bash
# Installs what is missing, builds Stolva and runs every test.
# BUILD_DIR and extra CMake options (CMAKE_ARGS) may be given for other builds.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh
BUILD_DIR="${BUILD_DIR:-build}"
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo ${CMAKE_ARGS:-}
cmake --build "$BUILD_DIR" -j"$(nproc)"
cd "$BUILD_DIR"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j2
