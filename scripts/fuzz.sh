#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a while: the table scanner and the text
# files of a PLINK fileset and -pheno. Usage: scripts/fuzz.sh [seconds=60]   (seconds per target)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
CC=clang CXX=clang++ BUILD_DIR=build-fuzz scripts/build.sh -DVARPAIR_FUZZ=ON -DVARPAIR_TESTS=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo
for target in table_scan:fuzz/seeds fileset_text:fuzz/fileset-seeds; do
  name=${target%%:*}
  work=build-fuzz/corpus-$name
  mkdir -p "$work"
  echo "-- ${name}_fuzz"
  ./build-fuzz/fuzz/${name}_fuzz -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 \
    "$work" "${target#*:}" 2>&1 | tail -n 12
done
