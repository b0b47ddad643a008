#!/usr/bin/env bash
# Builds varpair (host backend) into build/. Usage: scripts/build.sh [extra cmake options]
# With -DVARPAIR_CUDA=ON it builds the CUDA flavour instead; use another folder: BUILD_DIR=build-cuda.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARPAIR_WERROR=ON "$@" >/dev/null
cmake --build "$build_dir"
