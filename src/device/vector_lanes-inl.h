// The vector instance of the lane type of device/lanes.h, over Highway's vectors of the target being
// compiled (include it after hwy/highway.h in a unit compiled once per target). Each operation is
// the scalar's IEEE operation lane by lane: no fused multiply-add, no approximate division.
// Float and 32-bit integer vectors have the same lanes; double vectors are full vectors of their own.
// The operations are plain inline functions of the target: the shared templates, which carry no
// target of their own, are inlined into a target's function first, and the operations then into it.

// Per-target include guard, as Highway's own headers do it.
#if defined(VARPAIR_DEVICE_VECTOR_LANES_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef VARPAIR_DEVICE_VECTOR_LANES_INL_H_
#undef VARPAIR_DEVICE_VECTOR_LANES_INL_H_
#else
#define VARPAIR_DEVICE_VECTOR_LANES_INL_H_
#endif

#include <cstdint>

#include "hwy/highway.h"

HWY_BEFORE_NAMESPACE();
namespace varpair::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// Whether the target's masked loads read nothing past their lanes (AVX2's and AVX-512's do; the
// others' read the whole vector, which may cross the end of an array).
#if HWY_TARGET == HWY_AVX2 || HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX3_DL
constexpr bool kSafeMaskedLoads = true;
#else
constexpr bool kSafeMaskedLoads = false;
#endif

struct VectorLanes {
  using DF = hn::ScalableTag<float>;
  using DI = hn::RebindToSigned<DF>;
  using DD = hn::ScalableTag<double>;
  using F = hn::Vec<DF>;
  using I = hn::Vec<DI>;
  using D = hn::Vec<DD>;
  using M = hn::Mask<DF>;
  using MD = hn::Mask<DD>;

  static inline F Set(float x) { return hn::Set(DF(), x); }
  static inline D SetD(double x) { return hn::Set(DD(), x); }
  static inline I SetI(std::int32_t x) { return hn::Set(DI(), x); }

  static inline F Add(F a, F b) { return hn::Add(a, b); }
  static inline F Sub(F a, F b) { return hn::Sub(a, b); }
  static inline F Mul(F a, F b) { return hn::Mul(a, b); }
  static inline F Div(F a, F b) { return hn::Div(a, b); }
  static inline F Abs(F a) { return hn::Abs(a); }
  static inline M Lt(F a, F b) { return hn::Lt(a, b); }
  static inline F IfThenElse(M m, F a, F b) { return hn::IfThenElse(m, a, b); }

  static inline D AddD(D a, D b) { return hn::Add(a, b); }
  static inline D SubD(D a, D b) { return hn::Sub(a, b); }
  static inline D MulD(D a, D b) { return hn::Mul(a, b); }
  // Where the scalar's a > b ? a : b has no not-a-number to meet, as in its uses.
  static inline D MaxD(D a, D b) { return hn::IfThenElse(hn::Gt(a, b), a, b); }
  static inline D DivD(D a, D b) { return hn::Div(a, b); }
  static inline D SqrtD(D a) { return hn::Sqrt(a); }
  static inline MD LtD(D a, D b) { return hn::Lt(a, b); }
  static inline D IfThenElseD(MD m, D a, D b) { return hn::IfThenElse(m, a, b); }
  static inline MD OrD(MD a, MD b) { return hn::Or(a, b); }
  static inline MD AndNotD(MD not_a, MD b) { return hn::AndNot(not_a, b); }
  static inline MD NotD(MD a) { return hn::Not(a); }

  static inline I AddI(I a, I b) { return hn::Add(a, b); }
  static inline I SubI(I a, I b) { return hn::Sub(a, b); }
  static inline I AndI(I a, I b) { return hn::And(a, b); }
  static inline I ShiftLeft1(I a) { return hn::ShiftLeft<1>(a); }
  static inline I ShiftRight23(I a) { return hn::ShiftRight<23>(a); }
  static inline M LtI(I a, I b) { return hn::RebindMask(DF(), hn::Lt(a, b)); }
  static inline M EqI(I a, I b) { return hn::RebindMask(DF(), hn::Eq(a, b)); }
  static inline I IfThenElseI(M m, I a, I b) { return hn::IfThenElse(hn::RebindMask(DI(), m), a, b); }
  static inline F ConvertI(I a) { return hn::ConvertTo(DF(), a); }

  static inline I BitsOf(F x) { return hn::BitCast(DI(), x); }
  static inline F FloatOf(I i) { return hn::BitCast(DF(), i); }

  static inline M Or(M a, M b) { return hn::Or(a, b); }
  static inline M AndNot(M not_a, M b) { return hn::AndNot(not_a, b); }
};

}  // namespace varpair::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#endif  // per-target include guard
