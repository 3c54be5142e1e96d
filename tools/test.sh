#!/usr/bin/env bash
# Installs what is missing, builds Stolva and runs every test.
# BUILD_DIR and extra CMake options (CMAKE_ARGS) may be given for other builds;
# STOLVA_WERROR=ON makes warnings errors, as CI does.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh
BUILD_DIR="${BUILD_DIR:-build}"
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DBUILD_TESTING=ON -DSTOLVA_WERROR="${STOLVA_WERROR:-OFF}" ${CMAKE_ARGS:-}
cmake --build "$BUILD_DIR" -j"$(nproc)"
cd "$BUILD_DIR"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j2
