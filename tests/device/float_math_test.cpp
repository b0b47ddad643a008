#include "device/float_math.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

namespace {

using varpair::vp_logf;

// Distance in units of the last place between a float and the exact (double) value.
double ulps_from(float computed, double exact) {
  const float nearest = static_cast<float>(exact);
  const double ulp = std::nextafter(std::fabs(nearest), std::numeric_limits<float>::infinity()) - std::fabs(nearest);
  return std::fabs(static_cast<double>(computed) - exact) / ulp;
}

TEST(FloatLog, IsFaithfullyRoundedAcrossTheWholeRange) {
  std::mt19937 rng(1);
  double worst = 0;
  for (int i = 0; i < 2'000'000; ++i) {
    // Every exponent from subnormals to the largest floats, random mantissas.
    const std::uint32_t bits = rng() % 0x7f800000u;
    const float x = varpair::bits_float(bits == 0 ? 1 : bits);
    worst = std::max(worst, ulps_from(vp_logf(x), std::log(static_cast<double>(x))));
  }
  EXPECT_LT(worst, 1.0);
}

TEST(FloatLog, IsExactOrCloseNearOne) {
  EXPECT_EQ(vp_logf(1.0f), 0.0f);
  for (float x = 0.9f; x < 1.1f; x = std::nextafter(x, 2.0f))
    ASSERT_LT(ulps_from(vp_logf(x), std::log(static_cast<double>(x))), 1.0) << x;
}

TEST(FloatLog, SpecialValues) {
  EXPECT_EQ(vp_logf(0.0f), -std::numeric_limits<float>::infinity());
  EXPECT_EQ(vp_logf(-0.0f), -std::numeric_limits<float>::infinity());
  EXPECT_TRUE(std::isnan(vp_logf(-1.0f)));
  EXPECT_TRUE(std::isnan(vp_logf(std::numeric_limits<float>::quiet_NaN())));
  EXPECT_EQ(vp_logf(std::numeric_limits<float>::infinity()), std::numeric_limits<float>::infinity());
  // 0 * ln(0) is not a number: the EM relies on it.
  EXPECT_TRUE(std::isnan(0.0f * vp_logf(0.0f)));
}

}  // namespace

namespace {

using varpair::vp_expf;

TEST(FloatExp, IsFaithfullyRoundedOverTheUsefulRange) {
  std::mt19937 rng(2);
  std::uniform_real_distribution<float> uniform(-103.0f, 88.7f);
  double worst = 0;
  for (int i = 0; i < 2'000'000; ++i) {
    const float x = i % 2 ? uniform(rng) : uniform(rng) / 64.0f;
    const double exact = std::exp(static_cast<double>(x));
    if (exact < 1.2e-38) continue;  // subnormal results: checked below
    worst = std::max(worst, ulps_from(vp_expf(x), exact));
  }
  EXPECT_LT(worst, 1.0);
}

TEST(FloatExp, SpecialValuesAndRangeEnds) {
  EXPECT_EQ(vp_expf(0.0f), 1.0f);
  EXPECT_EQ(vp_expf(-std::numeric_limits<float>::infinity()), 0.0f);
  EXPECT_EQ(vp_expf(std::numeric_limits<float>::infinity()), std::numeric_limits<float>::infinity());
  EXPECT_TRUE(std::isnan(vp_expf(std::numeric_limits<float>::quiet_NaN())));
  EXPECT_EQ(vp_expf(89.0f), std::numeric_limits<float>::infinity());
  EXPECT_EQ(vp_expf(-104.0f), 0.0f);
  EXPECT_NEAR(vp_expf(-100.0f), std::exp(-100.0), 2e-45) << "a subnormal result";
  EXPECT_EQ(vp_expf(1e-9f), 1.0f);
}

TEST(FloatExp, UndoesTheLogarithm) {
  for (float x : {0.001f, 0.5f, 1.0f, 2.0f, 3.857143f, 99999.9f})
    EXPECT_NEAR(vp_expf(varpair::vp_logf(x)), x, x * 3e-7f) << x;
}

}  // namespace
