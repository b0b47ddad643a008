// Single-precision natural logarithm shared by both backends, so that the host build and the CUDA
// build compute the same floats (the vendors' logf differ in their last bits).
#pragma once

#include <cstdint>
#include <cstring>

#include "device/runtime.h"

namespace varpair {

__host__ __device__ __forceinline__ std::uint32_t float_bits(float x) {
  std::uint32_t u;
  memcpy(&u, &x, sizeof u);
  return u;
}

__host__ __device__ __forceinline__ float bits_float(std::uint32_t u) {
  float x;
  memcpy(&x, &u, sizeof x);
  return x;
}

// ln(x), faithfully rounded (under one unit in the last place); ln(0) = -infinity, ln of a
// negative number or of a not-a-number is not-a-number, ln(+infinity) = +infinity.
// The classic reduction: x = 2^k * m with m in [sqrt(2)/2, sqrt(2)), f = m - 1, s = f / (2 + f),
// ln(m) = f - f^2/2 + s (f^2/2 + R(s^2)) with a minimax polynomial R; k ln 2 added in two parts.
__host__ __device__ __forceinline__ float vp_logf(float x) {
  constexpr float kLn2Hi = 6.9313812256e-01f;  // 0x3f317180: k * kLn2Hi is exact
  constexpr float kLn2Lo = 9.0580006145e-06f;  // 0x3717f7d1
  constexpr float kLg1 = 0.66666662693f;       // 0xaaaaaa.0p-24
  constexpr float kLg2 = 0.40000972152f;       // 0xccce13.0p-25
  constexpr float kLg3 = 0.28498786688f;       // 0x91e9ee.0p-25
  constexpr float kLg4 = 0.24279078841f;       // 0xf89e26.0p-26

  std::uint32_t ix = float_bits(x);
  int k = 0;
  if (ix < 0x00800000u || (ix >> 31) != 0) {
    if ((ix << 1) == 0) return bits_float(0xff800000u);   // +-0: -infinity
    if ((ix >> 31) != 0) return bits_float(0x7fc00000u);  // negative or -nan: nan
    k -= 25;                                              // subnormal: scale into normal range
    ix = float_bits(x * 33554432.0f);
  } else if (ix >= 0x7f800000u) {
    return x;  // +inf or nan
  } else if (ix == 0x3f800000u) {
    return 0.0f;
  }
  ix += 0x3f800000u - 0x3f3504f3u;
  k += static_cast<int>(ix >> 23) - 0x7f;
  ix = (ix & 0x007fffffu) + 0x3f3504f3u;
  const float m = bits_float(ix);

  const float f = m - 1.0f;
  const float s = f / (2.0f + f);
  const float z = s * s;
  const float w = z * z;
  const float t1 = w * (kLg2 + w * kLg4);
  const float t2 = z * (kLg1 + w * kLg3);
  const float r = t2 + t1;
  const float hfsq = 0.5f * f * f;
  const float dk = static_cast<float>(k);
  return s * (hfsq + r) + dk * kLn2Lo - hfsq + f + dk * kLn2Hi;
}

}  // namespace varpair
