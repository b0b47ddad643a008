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
