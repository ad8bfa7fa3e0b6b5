#!/usr/bin/env bash
# Installs what is missing, then builds and runs the whole test suite twice: a plain build and a
# build with AddressSanitizer and UndefinedBehaviorSanitizer. Then each fuzz target runs briefly.
set -euo pipefail
top="$(cd "$(dirname "$0")" && pwd)"
cd "$top"

./scripts/install-deps.sh
jobs="$(nproc)"

echo "=== plain build ==="
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWARNINGS_AS_ERRORS=ON
cmake --build build -j "$jobs"
(cd build && ctest --output-on-failure -j "$jobs")

echo "=== sanitizer build ==="
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DGATEWAY_SANITIZE=ON \
    -DGATEWAY_BENCH=OFF -DWARNINGS_AS_ERRORS=ON
cmake --build build-asan -j "$jobs"
(cd build-asan && ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --output-on-failure -j "$jobs")

./scripts/run-fuzzers.sh "${FUZZ_SECONDS:-30}"
