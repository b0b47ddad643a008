#include "interaction/table_2x2.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "interaction/result_writer.h"

namespace {

using varpair::InteractionRecord;
using varpair::InteractionThresholds;

// Within a few units in the last place of single precision: the worked values were rounded once
// from double precision, the model computes in single precision step by step.
void expect_close(float actual, double expected, const char* what) {
  EXPECT_LE(std::fabs(actual - expected), 4 * std::fabs(expected) * 1.2e-7 + 1e-30)
      << what << ": " << actual << " vs " << expected;
}

InteractionThresholds defaults() { return {static_cast<float>(varpair::chi_square_threshold(1e-5)), 2.0f}; }

TEST(Table2x2, WorkedExamples) {
  struct Case {
    int a, b, c, d;
    double chi, ratio, lower, upper;
  };
  const Case cases[] = {
      {30, 70, 10, 90, 11.28125, 3.857143, 1.766577, 8.421680},
      {40, 60, 10, 90, 22.426666, 6.0, 2.788931, 12.908174},
  };
  for (const Case& c : cases) {
    expect_close(varpair::yates_chi_square(c.a, c.b, c.c, c.d), c.chi, "chi-square");
    const auto r = varpair::odds_ratio(c.a, c.b, c.c, c.d);
    expect_close(r.value, c.ratio, "OR");
    expect_close(r.lower, c.lower, "OR_lower");
    expect_close(r.upper, c.upper, "OR_upper");
  }
  expect_close(varpair::yates_chi_square(50, 50, 20, 80), 18.483517, "chi-square");
  expect_close(varpair::odds_ratio(50, 50, 20, 80).lower, 2.135687, "OR_lower");
  expect_close(varpair::yates_chi_square(0, 100, 20, 80), 20.055555, "chi-square");
}

TEST(Table2x2, ThresholdsDecideWhichTablesAreKept) {
  InteractionRecord r{};
  EXPECT_FALSE(varpair::test_table(30, 70, 10, 90, defaults(), r));
  const float chi_05 = static_cast<float>(varpair::chi_square_threshold(0.05));
  EXPECT_FALSE(varpair::test_table(30, 70, 10, 90, {chi_05, 2.0f}, r)) << "1.77 < 2 and 8.42 > 0.5";
  EXPECT_TRUE(varpair::test_table(30, 70, 10, 90, {chi_05, 1.5f}, r));
  EXPECT_TRUE(varpair::test_table(40, 60, 10, 90, defaults(), r));
  EXPECT_EQ(r.a, 40);
  EXPECT_EQ(r.d, 90);
  EXPECT_FALSE(varpair::test_table(50, 50, 20, 80, defaults(), r)) << "chi-square too small";
  EXPECT_TRUE(varpair::test_table(0, 100, 20, 80, defaults(), r)) << "an interval at 0 lies below 1/2";
  EXPECT_EQ(r.odds_ratio, 0.0f);
}

TEST(Table2x2, OddsRatioSpecialCases) {
  const auto none = varpair::odds_ratio(0, 5, 0, 7);
  EXPECT_EQ(none.value, 1.0f);
  EXPECT_EQ(none.lower, 1.0f);
  EXPECT_EQ(varpair::odds_ratio(0, 5, 3, 7).upper, 0.0f);
  const auto infinite = varpair::odds_ratio(4, 0, 3, 7);
  EXPECT_EQ(infinite.value, 99999.8984375f);
  EXPECT_EQ(infinite.upper, 99999.8984375f);
  InteractionRecord r{};
  EXPECT_TRUE(varpair::test_table(40, 0, 3, 100, {0.0f, 99999.0f}, r)) << "passes any threshold up to 99999.9";
}

TEST(Table2x2, NoGenotypedSampleIsChiSquareZeroAndOddsRatioOne) {
  EXPECT_EQ(varpair::yates_chi_square(0, 0, 0, 0), 0.0f);
  InteractionRecord r{};
  EXPECT_FALSE(varpair::test_table(0, 0, 0, 0, {0.0f, 1.5f}, r));
  EXPECT_TRUE(varpair::test_table(0, 0, 0, 0, {0.0f, 1.0f}, r));
}

// The statistics agree with a plain double-precision computation to single-precision accuracy.
TEST(Table2x2, AgreesWithADoublePrecisionComputation) {
  std::mt19937 rng(4);
  for (int round = 0; round < 20000; ++round) {
    const int a = 1 + static_cast<int>(rng() % 3000), b = 1 + static_cast<int>(rng() % 3000);
    const int c = 1 + static_cast<int>(rng() % 3000), d = 1 + static_cast<int>(rng() % 3000);
    const double n = a + b + c + d;
    const double diff = std::max(0.0, std::fabs(1.0 * a * d - 1.0 * b * c) - n / 2);
    const double chi = n * (diff * diff) / ((a + b) * 1.0 * (c + d) * (a + c) * (b + d));
    ASSERT_EQ(varpair::yates_chi_square(a, b, c, d), static_cast<float>(chi));
    const double ratio = (1.0 * a * d) / (1.0 * b * c);
    const double se = std::sqrt(1.0 / a + 1.0 / b + 1.0 / c + 1.0 / d);
    const auto r = varpair::odds_ratio(a, b, c, d);
    ASSERT_NEAR(r.value, ratio, ratio * 3e-7);
    ASSERT_NEAR(r.lower, std::exp(std::log(ratio) - 1.96 * se), ratio * 3e-6);
    ASSERT_NEAR(r.upper, std::exp(std::log(ratio) + 1.96 * se), ratio * std::exp(1.96 * se) * 3e-6);
  }
}

// A table is kept exactly when its chi-square reaches the threshold, also where test_table decides
// without the division: thresholds at the table's own value and one float either side of it, on
// small, large and empty tables.
TEST(Table2x2, TheDivisionFreeTestKeepsExactlyTheTablesThatReachTheThreshold) {
  std::mt19937 rng(9);
  for (int round = 0; round < 20000; ++round) {
    const int scale = round % 3 == 0 ? 6 : round % 3 == 1 ? 400 : 3000000;
    const int a = static_cast<int>(rng() % scale), b = static_cast<int>(rng() % scale);
    const int c = static_cast<int>(rng() % scale), d = static_cast<int>(rng() % scale);
    const float chi = varpair::yates_chi_square(a, b, c, d);
    for (float threshold : {chi, std::nextafter(chi, 1e30f), std::nextafter(chi, 0.0f), 0.0f, 3.841f}) {
      InteractionRecord record{};
      const bool kept = varpair::test_table(a, b, c, d, InteractionThresholds{threshold, 0.0f}, record);
      ASSERT_EQ(kept, chi >= threshold) << a << " " << b << " " << c << " " << d << " at " << threshold;
      if (kept) {
        ASSERT_EQ(record.chi_square, chi);
      }
    }
  }
}

TEST(ChiSquareDistribution, ThresholdsAndPValues) {
  EXPECT_EQ(static_cast<float>(varpair::chi_square_threshold(0.00001)), 19.511421f);
  EXPECT_NEAR(varpair::chi_square_threshold(0.05), 3.841459, 1e-6);
  EXPECT_EQ(varpair::chi_square_threshold(1.0), 0.0);
  EXPECT_TRUE(std::isinf(varpair::chi_square_threshold(0.0)));
  EXPECT_NEAR(varpair::chi_square_p_value(3.841459f), 0.05, 1e-7);
  EXPECT_EQ(varpair::chi_square_p_value(0.0f), 1.0);
}

}  // namespace
