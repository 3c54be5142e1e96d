#!/usr/bin/env bash
# Builds the CSV fuzz target with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) and runs it for FUZZ_SECONDS (60) from the seeds.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh clang
BUILD_DIR="${BUILD_DIR:-build-fuzz}"
cmake -S . -B "$BUILD_DIR" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DSTOLVA_FUZZ=ON -DBUILD_TESTING=OFF
cmake --build "$BUILD_DIR" -j"$(nproc)" --target csv_fuzz
mkdir -p "$BUILD_DIR/corpus"
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
QT_QPA_PLATFORM=offscreen "$BUILD_DIR/csv_fuzz" -max_total_time="${FUZZ_SECONDS:-60}" \
    -timeout=10 -rss_limit_mb=4096 -max_len=1048576 -print_final_stats=1 \
    -artifact_prefix="$BUILD_DIR/" \
    "$BUILD_DIR/corpus" fuzz/seeds
