// Statistics of one 2x2 table (cases/controls x in the cell/outside it), shared by every
// interaction model and tested directly.
#pragma once

#include <cmath>
#include <cstdint>

#include "device/float_math.h"
#include "device/runtime.h"
#include "interaction/interaction_record.h"

namespace varpair {

// The Yates-corrected chi-square's numerator N (max(0, |ad - bc| - N/2))^2 and denominator
// Ncase Nctrl (a + c)(b + d), in double precision over a lane type (device/lanes.h), from the
// table's margins and cross = |ad - bc|, exact.
template <class L>
__host__ __device__ __forceinline__ void yates_parts(typename L::D cases, typename L::D controls,
                                                     typename L::D with_allele, typename L::D without_allele,
                                                     typename L::D n, typename L::D cross, typename L::D& numerator,
                                                     typename L::D& denominator) {
  denominator = L::MulD(L::MulD(L::MulD(cases, controls), with_allele), without_allele);
  const typename L::D corrected = L::MaxD(L::SubD(cross, L::MulD(n, L::SetD(0.5))), L::SetD(0.0));
  numerator = L::MulD(n, L::MulD(corrected, corrected));
}

// The parts of yates_parts for a table of counts, with ad and bc exact 64-bit products.
__host__ __device__ __forceinline__ void yates_parts(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d,
                                                     double& numerator, double& denominator) {
  const std::int64_t cases = static_cast<std::int64_t>(a) + b;
  const std::int64_t controls = static_cast<std::int64_t>(c) + d;
  const std::int64_t ad = static_cast<std::int64_t>(a) * d;
  const std::int64_t bc = static_cast<std::int64_t>(b) * c;
  yates_parts<ScalarLanes>(static_cast<double>(cases), static_cast<double>(controls),
                           static_cast<double>(static_cast<std::int64_t>(a) + c),
                           static_cast<double>(static_cast<std::int64_t>(b) + d), static_cast<double>(cases + controls),
                           static_cast<double>(ad > bc ? ad - bc : bc - ad), numerator, denominator);
}

// Yates-corrected chi-square in double precision, rounded to a float: numerator / denominator of
// yates_parts, 0 when the denominator is 0.
__host__ __device__ __forceinline__ float yates_quotient(double numerator, double denominator) {
  return denominator == 0.0 ? 0.0f : static_cast<float>(numerator / denominator);
}

__host__ __device__ __forceinline__ float yates_chi_square(std::int32_t a, std::int32_t b, std::int32_t c,
                                                           std::int32_t d) {
  double numerator, denominator;
  yates_parts(a, b, c, d, numerator, denominator);
  return yates_quotient(numerator, denominator);
}

// Whether a table's chi-square falls short of `threshold` for certain, told without the division:
// numerator < threshold x denominator with a margin of 2^-20, which the float rounding of the
// quotient (2^-24) and the double roundings cannot cross. Most tables of most pairs fall short so.
template <class L>
__host__ __device__ __forceinline__ auto yates_surely_below(typename L::D numerator, typename L::D denominator,
                                                            float threshold) {
  return L::LtD(numerator, L::MulD(L::SetD(static_cast<double>(threshold) * (1.0 - 0x1p-20)), denominator));
}

struct OddsRatio {
  float value, lower, upper;
};

// Odds ratio ad/bc with its 95 % interval exp(ln OR -+ 1.96 SE), SE = sqrt(1/a + 1/b + 1/c + 1/d),
// in single precision; 1 when ad = bc = 0, 0 when only ad = 0, 99999.9 when only bc = 0.
__host__ __device__ __forceinline__ OddsRatio odds_ratio(std::int32_t a, std::int32_t b, std::int32_t c,
                                                         std::int32_t d) {
  const std::int64_t ad = static_cast<std::int64_t>(a) * d;
  const std::int64_t bc = static_cast<std::int64_t>(b) * c;
  if (ad == 0 && bc == 0) return OddsRatio{1.0f, 1.0f, 1.0f};
  if (ad == 0) return OddsRatio{0.0f, 0.0f, 0.0f};
  if (bc == 0) return OddsRatio{99999.9f, 99999.9f, 99999.9f};
  const float ratio = static_cast<float>(ad) / static_cast<float>(bc);
  const float se =
      sqrtf(((1.0f / static_cast<float>(a) + 1.0f / static_cast<float>(b)) + 1.0f / static_cast<float>(c)) +
            1.0f / static_cast<float>(d));
  const float log_ratio = vp_logf(ratio);
  const float margin = 1.96f * se;
  return OddsRatio{ratio, vp_expf(log_ratio - margin), vp_expf(log_ratio + margin)};
}

// The thresholds every interaction model applies.
struct InteractionThresholds {
  float chi_square;
  float odds_ratio;
};

// A table passes when its chi-square reaches the threshold and its whole odds-ratio interval lies
// at or above the OR threshold, or at or below its reciprocal. On success fills `record` (all but
// the SNPs and the label).
__host__ __device__ __forceinline__ bool test_table(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d,
                                                    InteractionThresholds thresholds, InteractionRecord& record) {
  double numerator, denominator;
  yates_parts(a, b, c, d, numerator, denominator);
  if (yates_surely_below<ScalarLanes>(numerator, denominator, thresholds.chi_square)) return false;
  const float chi = yates_quotient(numerator, denominator);
  if (!(chi >= thresholds.chi_square)) return false;
  const OddsRatio ratio = odds_ratio(a, b, c, d);
  if (!(ratio.lower >= thresholds.odds_ratio || ratio.upper <= 1.0f / thresholds.odds_ratio)) return false;
  record.a = a;
  record.b = b;
  record.c = c;
  record.d = d;
  record.chi_square = chi;
  record.odds_ratio = ratio.value;
  record.or_lower = ratio.lower;
  record.or_upper = ratio.upper;
  return true;
}

}  // namespace varpair
