// The lane type of the per-pair mathematics that the host also runs in vector lanes (the EM, its
// logarithm, the interaction filters): each is written once as a template over a lane type, and
// ScalarLanes, one value a lane, is the instance the GPU and the portable path run. The vector
// instance (device/vector_lanes-inl.h) has the same operations over Highway's vectors, and each of
// its lanes does exactly the scalar's IEEE operation, so every lane gives the scalar's bits.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

#include "device/runtime.h"

namespace varpair {

struct ScalarLanes {
  using F = float;         // single precision
  using D = double;        // double precision
  using I = std::int32_t;  // 32-bit integers, beside F
  using M = bool;          // a comparison's outcome
  using MD = bool;         // a comparison's outcome of doubles

  static __host__ __device__ __forceinline__ F Set(float x) { return x; }
  static __host__ __device__ __forceinline__ D SetD(double x) { return x; }
  static __host__ __device__ __forceinline__ I SetI(std::int32_t x) { return x; }

  static __host__ __device__ __forceinline__ F Add(F a, F b) { return a + b; }
  static __host__ __device__ __forceinline__ F Sub(F a, F b) { return a - b; }
  static __host__ __device__ __forceinline__ F Mul(F a, F b) { return a * b; }
  static __host__ __device__ __forceinline__ F Div(F a, F b) { return a / b; }
  static __host__ __device__ __forceinline__ F Abs(F a) { return fabsf(a); }
  static __host__ __device__ __forceinline__ M Lt(F a, F b) { return a < b; }
  static __host__ __device__ __forceinline__ F IfThenElse(M m, F a, F b) { return m ? a : b; }

  static __host__ __device__ __forceinline__ D AddD(D a, D b) { return a + b; }
  static __host__ __device__ __forceinline__ D SubD(D a, D b) { return a - b; }
  static __host__ __device__ __forceinline__ D MulD(D a, D b) { return a * b; }
  static __host__ __device__ __forceinline__ D MaxD(D a, D b) { return a > b ? a : b; }
  static __host__ __device__ __forceinline__ D DivD(D a, D b) { return a / b; }
  static __host__ __device__ __forceinline__ D SqrtD(D a) { return sqrt(a); }
  static __host__ __device__ __forceinline__ MD LtD(D a, D b) { return a < b; }
  static __host__ __device__ __forceinline__ D IfThenElseD(MD m, D a, D b) { return m ? a : b; }
  static __host__ __device__ __forceinline__ MD OrD(MD a, MD b) { return a || b; }
  static __host__ __device__ __forceinline__ MD AndNotD(MD not_a, MD b) { return !not_a && b; }
  static __host__ __device__ __forceinline__ MD NotD(MD a) { return !a; }

  // Integer sums wrap, as vector lanes do (the logarithm's reduction of an infinity or a not-a-
  // number runs past the range before its result is set aside).
  static __host__ __device__ __forceinline__ I AddI(I a, I b) {
    return static_cast<I>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
  }
  static __host__ __device__ __forceinline__ I SubI(I a, I b) {
    return static_cast<I>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
  }
  static __host__ __device__ __forceinline__ I AndI(I a, I b) { return a & b; }
  static __host__ __device__ __forceinline__ I ShiftLeft1(I a) {
    return static_cast<I>(static_cast<std::uint32_t>(a) << 1);
  }
  // Arithmetic shift right by 23: the exponent field of a non-negative float's bits.
  static __host__ __device__ __forceinline__ I ShiftRight23(I a) { return a >> 23; }
  static __host__ __device__ __forceinline__ M LtI(I a, I b) { return a < b; }
  static __host__ __device__ __forceinline__ M EqI(I a, I b) { return a == b; }
  static __host__ __device__ __forceinline__ I IfThenElseI(M m, I a, I b) { return m ? a : b; }
  static __host__ __device__ __forceinline__ F ConvertI(I a) { return static_cast<F>(a); }

  static __host__ __device__ __forceinline__ I BitsOf(F x) {
    I i;
    memcpy(&i, &x, sizeof i);
    return i;
  }
  static __host__ __device__ __forceinline__ F FloatOf(I i) {
    F x;
    memcpy(&x, &i, sizeof x);
    return x;
  }

  static __host__ __device__ __forceinline__ M Or(M a, M b) { return a || b; }
  static __host__ __device__ __forceinline__ M AndNot(M not_a, M b) { return !not_a && b; }
};

}  // namespace varpair
