#!/usr/bin/env bash
# Sets everything up and runs the whole test suite: the host build, the Snakemake workflow and a
# SLURM job array on a one-node cluster of this machine, the same suite under AddressSanitizer and
# UndefinedBehaviorSanitizer, a compile of the CUDA flavour when nvcc is present, the host backend's
# vector code cross-built for Arm and tested under qemu-user, and a short fuzzing run of the text
# readers (table scanner, fileset .fam/.bim, -pheno).
# Usage: scripts/test.sh [--quick]   (--quick: the host build's suite only)
set -euo pipefail
cd "$(dirname "$0")/.."
quick=0
[ "${1:-}" = "--quick" ] && quick=1

scripts/setup.sh

echo "== host build and tests"
scripts/build.sh -DVARPAIR_TESTS=ON
ctest --test-dir build --output-on-failure -j "$(nproc)"
[ $quick -eq 1 ] && exit 0

echo "== the Snakemake workflow (snakemake from PyPI in .venv-snakemake/)"
scripts/workflow-check.sh

echo "== a one-node SLURM cluster: the job array and the merge"
scripts/slurm-check.sh

echo "== AddressSanitizer and UndefinedBehaviorSanitizer"
BUILD_DIR=build-asan scripts/build.sh -DVARPAIR_TESTS=ON -DVARPAIR_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j "$(nproc)"

if command -v nvcc >/dev/null || [ -x /usr/local/cuda/bin/nvcc ]; then
  echo "== CUDA build (compile only: no GPU here)"
  PATH="$PATH:/usr/local/cuda/bin" BUILD_DIR=build-cuda scripts/build.sh -DVARPAIR_CUDA=ON -DVARPAIR_TESTS=ON
else
  echo "== nvcc not found: CUDA build skipped"
fi

echo "== Arm (aarch64): the vector code and per-pair mathematics cross-built, their tests under qemu-user"
scripts/arm-check.sh

echo "== fuzzing the text readers"
scripts/fuzz.sh 15
