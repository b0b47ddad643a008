// Single-precision natural logarithm and exponential shared by both backends, so that the host build and the CUDA
// build compute the same floats (the vendors' logf differ in their last bits).
#pragma once

#include <cstdint>
#include <cstring>

#include "device/lanes.h"
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
// negative number or of a not-a-number is not-a-number, ln(+infinity) = +infinity; over a lane
// type (device/lanes.h), without branches, so that vector lanes run the scalar's operations.
// The classic reduction: x = 2^k * m with m in [sqrt(2)/2, sqrt(2)), f = m - 1, s = f / (2 + f),
// ln(m) = f - f^2/2 + s (f^2/2 + R(s^2)) with a minimax polynomial R; k ln 2 added in two parts.
template <class L>
__host__ __device__ __forceinline__ typename L::F log_lanes(typename L::F x) {
  constexpr float kLn2Hi = 6.9313812256e-01f;  // 0x3f317180: k * kLn2Hi is exact
  constexpr float kLn2Lo = 9.0580006145e-06f;  // 0x3717f7d1
  constexpr float kLg1 = 0.66666662693f;       // 0xaaaaaa.0p-24
  constexpr float kLg2 = 0.40000972152f;       // 0xccce13.0p-25
  constexpr float kLg3 = 0.28498786688f;       // 0x91e9ee.0p-25
  constexpr float kLg4 = 0.24279078841f;       // 0xf89e26.0p-26
  using I = typename L::I;
  using F = typename L::F;

  const I ix0 = L::BitsOf(x);
  const auto negative = L::LtI(ix0, L::SetI(0));  // the sign bit: -0, -nan too
  const auto zero = L::EqI(L::ShiftLeft1(ix0), L::SetI(0));
  const auto inf_or_nan = L::LtI(L::SetI(0x7f7fffff), ix0);
  const auto one = L::EqI(ix0, L::SetI(0x3f800000));
  // Subnormals are scaled into the normal range first.
  const auto subnormal = L::AndNot(zero, L::AndNot(negative, L::LtI(ix0, L::SetI(0x00800000))));
  I ix = L::IfThenElseI(subnormal, L::BitsOf(L::Mul(x, L::Set(33554432.0f))), ix0);
  I k = L::IfThenElseI(subnormal, L::SetI(-25), L::SetI(0));
  ix = L::AddI(ix, L::SetI(0x3f800000 - 0x3f3504f3));
  k = L::AddI(k, L::SubI(L::ShiftRight23(ix), L::SetI(0x7f)));
  ix = L::AddI(L::AndI(ix, L::SetI(0x007fffff)), L::SetI(0x3f3504f3));
  const F m = L::FloatOf(ix);

  const F f = L::Sub(m, L::Set(1.0f));
  const F s = L::Div(f, L::Add(L::Set(2.0f), f));
  const F z = L::Mul(s, s);
  const F w = L::Mul(z, z);
  const F t1 = L::Mul(w, L::Add(L::Set(kLg2), L::Mul(w, L::Set(kLg4))));
  const F t2 = L::Mul(z, L::Add(L::Set(kLg1), L::Mul(w, L::Set(kLg3))));
  const F r = L::Add(t2, t1);
  const F hfsq = L::Mul(L::Mul(L::Set(0.5f), f), f);
  const F dk = L::ConvertI(k);
  F result = L::Mul(s, L::Add(hfsq, r));
  result = L::Add(result, L::Mul(dk, L::Set(kLn2Lo)));
  result = L::Sub(result, hfsq);
  result = L::Add(result, f);
  result = L::Add(result, L::Mul(dk, L::Set(kLn2Hi)));

  result = L::IfThenElse(one, L::Set(0.0f), result);
  result = L::IfThenElse(inf_or_nan, x, result);
  result = L::IfThenElse(L::AndNot(zero, negative), L::FloatOf(L::SetI(0x7fc00000)), result);
  return L::IfThenElse(zero, L::FloatOf(L::SetI(static_cast<std::int32_t>(0xff800000u))), result);
}

__host__ __device__ __forceinline__ float vp_logf(float x) { return log_lanes<ScalarLanes>(x); }

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
