// Single-precision natural logarithm and exponential shared by both backends, so that the host build and the CUDA
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

// 2^k * y for y in [0.5, 2), k any integer: exact unless the result is subnormal or overflows.
__host__ __device__ __forceinline__ float scale_by_power_of_two(float y, int k) {
  if (k > 127) {
    y *= bits_float(0x7f000000u);  // 2^127
    k -= 127;
    if (k > 127) k = 127;
  } else if (k < -126) {
    y *= bits_float(0x00800000u) * 16777216.0f;  // 2^-126 * 2^24: keep precision for the last step
    k += 126 - 24;
    if (k < -126) k = -126;
  }
  return y * bits_float(static_cast<std::uint32_t>(k + 127) << 23);
}

// e^x, faithfully rounded; e^-inf = 0, e^+inf = +inf, e^nan = nan. The classic reduction:
// x = k ln 2 + r with |r| <= ln 2 / 2 (ln 2 in two parts), e^r from a rational approximation,
// then scaled by 2^k.
__host__ __device__ __forceinline__ float vp_expf(float x) {
  constexpr float kLn2Hi = 6.9314575195e-1f;   // 0x3f317200
  constexpr float kLn2Lo = 1.4286067653e-6f;   // 0x35bfbe8e
  constexpr float kInvLn2 = 1.4426950216e+0f;  // 0x3fb8aa3b
  constexpr float kP1 = 1.6666625440e-1f;      // 0xaaaaa8.0p-26
  constexpr float kP2 = -2.7667332906e-3f;     // -0xb55215.0p-32

  if (!(x == x)) return x;
  const std::uint32_t bits = float_bits(x);
  const bool negative = (bits >> 31) != 0;
  const std::uint32_t magnitude = bits & 0x7fffffffu;
  if (magnitude >= 0x42b17218u && !negative) return bits_float(0x7f800000u);  // x >= 88.72: overflow
  if (magnitude >= 0x42cff1b5u && negative) return 0.0f;                      // x <= -103.97: underflow
  int k = 0;
  float hi = x, lo = 0.0f;
  if (magnitude > 0x3eb17218u) {  // |x| > ln 2 / 2
    if (magnitude > 0x3f851592u)  // |x| > 1.5 ln 2
      k = static_cast<int>(kInvLn2 * x + (negative ? -0.5f : 0.5f));
    else
      k = negative ? -1 : 1;
    hi = x - static_cast<float>(k) * kLn2Hi;  // exact
    lo = static_cast<float>(k) * kLn2Lo;
    x = hi - lo;
  } else if (magnitude <= 0x39000000u) {  // |x| <= 2^-14
    return 1.0f + x;
  }
  const float xx = x * x;
  const float c = x - xx * (kP1 + xx * kP2);
  const float y = 1.0f + (x * c / (2.0f - c) - lo + hi);
  return k == 0 ? y : scale_by_power_of_two(y, k);
}

}  // namespace varpair
