#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for the given seconds from its seed corpus.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
cd "$top"
seconds="${1:-30}"

targets=$(find fuzz -mindepth 2 -maxdepth 2 -name CMakeLists.txt -not -path "fuzz/seeds/*" 2>/dev/null | wc -l)
if [ "$targets" -eq 0 ]; then
    echo "No fuzz targets."
    exit 0
fi

echo "=== fuzz build ==="
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DGATEWAY_FUZZ=ON -DGATEWAY_BENCH=OFF
cmake --build build-fuzz -j "$(nproc)" --target gateway_fuzzers

for bin in build-fuzz/fuzz/fuzz-*; do
    [ -x "$bin" ] || continue
    name="$(basename "$bin")"
    corpus="build-fuzz/corpus/$name"
    mkdir -p "$corpus"
    seeds="fuzz/seeds/${name#fuzz-}"
    echo "=== $name: ${seconds}s ==="
    ASAN_OPTIONS=detect_leaks=0 QT_QPA_PLATFORM=offscreen \
        "$bin" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 -print_final_stats=1 \
        "$corpus" $( [ -d "$seeds" ] && echo "$seeds" )
done
