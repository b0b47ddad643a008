#!/usr/bin/env bash
# Builds the libFuzzer target of the table scanner with clang and runs it for a while.
# Usage: scripts/fuzz.sh [seconds=60]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
CC=clang CXX=clang++ BUILD_DIR=build-fuzz scripts/build.sh -DVARPAIR_FUZZ=ON -DVARPAIR_TESTS=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo
work=build-fuzz/corpus
mkdir -p "$work"
./build-fuzz/fuzz/table_scan_fuzz -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 \
  "$work" fuzz/seeds 2>&1 | tail -n 12
