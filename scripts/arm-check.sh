#!/usr/bin/env bash
# Cross-builds the host backend's vector code and per-pair mathematics for Arm (aarch64) with Debian's
# cross compiler and runs their tests under qemu-user: the NEON path against the portable one, as
# the x86 suite does for its paths. Highway's arm64 library is unpacked into build-arm/ (its headers
# are the same on every architecture), GoogleTest is compiled from its sources.
# Usage: scripts/arm-check.sh
set -euo pipefail
cd "$(dirname "$0")/.."

missing=()
for p in g++-aarch64-linux-gnu qemu-user googletest libhwy-dev; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

work=build-arm
mkdir -p "$work/include" "$work/lib" "$work/obj"
hwy_version=$(dpkg-query -W -f='${Version}' libhwy-dev)
if [ ! -e "$work/lib/libhwy.so" ] || [ "$(cat "$work/lib/version" 2>/dev/null)" != "$hwy_version" ]; then
  # The arm64 package list in a folder of its own: the machine's own package setup stays as it is.
  lists=$(mktemp -d)
  arch=(-oAPT::Architecture=arm64 -oAPT::Architectures=arm64 -oDir::State::Lists="$lists")
  apt-get "${arch[@]}" update -qq
  (cd "$work" && rm -f ./*.deb && apt-get "${arch[@]}" download -qq "libhwy1=$hwy_version")
  rm -rf "$lists" "$work/unpacked"
  dpkg -x "$work"/libhwy1_*_arm64.deb "$work/unpacked"
  cp -a "$work"/unpacked/usr/lib/aarch64-linux-gnu/libhwy.so.* "$work/lib/"
  ln -sf "$(basename "$(ls "$work"/lib/libhwy.so.1.*)")" "$work/lib/libhwy.so"
  echo "$hwy_version" >"$work/lib/version"
fi
ln -sfn /usr/include/hwy "$work/include/hwy"
ln -sfn /usr/include/gtest "$work/include/gtest"

cxx=aarch64-linux-gnu-g++
flags=(-std=c++20 -O2 -Wall -Wextra -Werror -ffp-contract=off -Isrc -Itests -I"$work/include"
  -DHWY_SHARED_DEFINE -DHWY_WANT_AVX3_DL=1 "-DHWY_DISABLED_TARGETS=(HWY_SVE|HWY_SVE2|HWY_SVE_256|HWY_SVE2_128)")
gtest=/usr/src/googletest/googletest
sources=(src/device/host_simd.cpp src/device/exact_products.cpp src/models/qt_fit_lanes.cpp src/interaction/table_vector.cpp src/ld/ld_em_vector.cpp src/device/backend.cpp
  src/device/host_runtime.cpp src/common/host_bytes.cpp src/common/progress.cpp src/common/system_info.cpp
  src/common/worker_pool.cpp
  tests/device/host_simd_test.cpp tests/device/vector_lanes_test.cpp tests/device/float_math_test.cpp
  tests/models/qt_fit_lanes_test.cpp)
objects=()
for s in "${sources[@]}"; do
  o="$work/obj/$(echo "$s" | tr / _).o"
  if [ ! -e "$o" ] || [ "$s" -nt "$o" ] || [ -n "$(find src tests -name '*.h' -newer "$o" -print -quit)" ]; then
    "$cxx" "${flags[@]}" -c "$s" -o "$o"
  fi
  objects+=("$o")
done
for s in gtest-all gtest_main; do
  [ -e "$work/obj/$s.o" ] || "$cxx" -std=c++20 -O1 -I"$gtest" -I"$gtest/include" -c "$gtest/src/$s.cc" -o "$work/obj/$s.o"
  objects+=("$work/obj/$s.o")
done
"$cxx" "${objects[@]}" -L"$work/lib" -lhwy -pthread -o "$work/arm_tests"

echo "-- aarch64 tests under qemu-user"
QEMU_LD_PREFIX=/usr/aarch64-linux-gnu LD_LIBRARY_PATH="$PWD/$work/lib" qemu-aarch64 "$work/arm_tests" \
  --gtest_brief=1
