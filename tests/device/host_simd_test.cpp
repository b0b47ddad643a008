// The host's vector counting loops give the same counts as the portable ones, which the GPU runs.
#include "device/host_simd.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "interaction/pair_counts.h"
#include "interaction/table_2x2.h"
#include "ld/ld_em_vector.h"
#include "ld/ld_math.h"
#include "models/pair_evaluations.h"

namespace {

class VectorCounts : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!varpair::host_simd::available()) GTEST_SKIP() << "no AVX-512 population count on this processor";
  }
  void TearDown() override { varpair::host_simd::set_enabled(true); }

  template <class Count>
  auto both_ways(Count&& count) {
    varpair::host_simd::set_enabled(false);
    const auto portable = count();
    varpair::host_simd::set_enabled(true);
    EXPECT_TRUE(varpair::host_simd::enabled());
    return std::make_pair(portable, count());
  }
  std::mt19937_64 rng{17};
};

TEST_F(VectorCounts, PackedLdRowsCountTheSame) {
  for (int samples : {1, 31, 255, 256, 257, 511, 600, 1024, 5000}) {
    std::vector<unsigned char> row0((samples + 3) / 4), row1(row0.size());
    for (auto& b : row0) b = static_cast<unsigned char>(rng());
    for (auto& b : row1) b = static_cast<unsigned char>(rng());
    const auto [portable, vector] =
        both_ways([&] { return varpair::count_haplotypes(row0.data(), row1.data(), samples); });
    EXPECT_EQ(vector.nAB, portable.nAB) << samples;
    EXPECT_EQ(vector.nAb, portable.nAb) << samples;
    EXPECT_EQ(vector.naB, portable.naB) << samples;
    EXPECT_EQ(vector.nab, portable.nab) << samples;
    EXPECT_EQ(vector.nDH, portable.nDH) << samples;
    EXPECT_EQ(vector.genotyped, portable.genotyped) << samples;
  }
}

// The vector filter keeps exactly the tables whose scalar chi-square reaches the threshold: small,
// large and empty tables, thresholds at computed values, a threshold of 0 (every table, a zero
// denominator included), and counts of tables that do not fill the lanes.
// Rows without a missing genotype count three combinations and take the rest from their totals:
// the vector path gives the portable one's counts at every length around the 256-sample steps.
TEST_F(VectorCounts, PackedRowsWithTotalsCountTheSame) {
  for (int samples : {1, 255, 256, 257, 600, 1024, 5000}) {
    std::vector<unsigned char> row0((samples + 3) / 4, 0), row1(row0.size(), 0);
    for (int s = 0; s < samples; ++s) {  // codes 0 to 2 only: no genotype missing
      row0[s / 4] |= static_cast<unsigned char>((rng() % 3) << (2 * (s % 4)));
      row1[s / 4] |= static_cast<unsigned char>((rng() % 3) << (2 * (s % 4)));
    }
    std::int32_t totals0[2] = {0, 1}, totals1[2] = {0, 1};  // A copies counted below
    for (int s = 0; s < samples; ++s) {
      totals0[0] += 2 - ((row0[s / 4] >> (2 * (s % 4))) & 3);
      totals1[0] += 2 - ((row1[s / 4] >> (2 * (s % 4))) & 3);
    }
    const auto full = varpair::count_haplotypes(row0.data(), row1.data(), samples);
    const auto [portable, vector] = both_ways([&] {
      const auto h = varpair::count_haplotypes(row0.data(), row1.data(), samples, totals0, totals1);
      return std::array<std::int32_t, 7>{h.nAB, h.nAb, h.naB, h.nab, h.nDH, h.n, h.genotyped};
    });
    EXPECT_EQ(vector, portable) << samples;
    EXPECT_EQ(vector,
              (std::array<std::int32_t, 7>{full.nAB, full.nAb, full.naB, full.nab, full.nDH, full.n, full.genotyped}))
        << samples;
  }
}

TEST_F(VectorCounts, ChiSquareFilterKeepsExactlyTheTablesThatReachTheThreshold) {
  for (int trial = 0; trial < 3000; ++trial) {
    const int scale = trial % 3 == 0 ? 8 : trial % 3 == 1 ? 500 : 200000;
    const int tables = 1 + trial % 8;
    const std::int32_t n_cases = trial % 50 == 0 ? 0 : static_cast<std::int32_t>(rng() % scale) + 1;
    const std::int32_t n_controls = static_cast<std::int32_t>(rng() % scale) + 1;
    std::int32_t a[8], c[8];
    for (int t = 0; t < tables; ++t) {
      a[t] = n_cases == 0 ? 0 : static_cast<std::int32_t>(rng() % (n_cases + 1));
      c[t] = static_cast<std::int32_t>(rng() % (n_controls + 1));
    }
    auto chi = [&](int t) { return varpair::yates_chi_square(a[t], n_cases - a[t], c[t], n_controls - c[t]); };
    for (float threshold : {0.0f, 3.841f, 19.5114f, chi(0), std::nextafter(chi(0), 1e30f)}) {
      std::uint32_t expected = 0;
      for (int t = 0; t < tables; ++t)
        if (chi(t) >= threshold) expected |= 1u << t;
      ASSERT_EQ(varpair::host_simd::chi_square_reaching(a, c, tables, n_cases, n_controls, threshold), expected)
          << "trial " << trial << " threshold " << threshold;
    }
  }
}

// MDR's risk classes on the vector path are the portable ones: ties at simple ratios, ratios that
// round, and counts past 2^24 where the float conversions round.
TEST_F(VectorCounts, MdrRiskTablesAreThePortableOnes) {
  for (int trial = 0; trial < 3000; ++trial) {
    const int scale = trial % 3 == 0 ? 6 : trial % 3 == 1 ? 1000 : 40000000;
    varpair::PairCells cells{};
    for (int k = 0; k < 9; ++k) {
      std::int32_t& cases = cells.cases[k / 3][k % 3];
      cases = static_cast<std::int32_t>(rng() % scale);
      cells.controls[k / 3][k % 3] = rng() % 4 == 0 ? 2 * cases : static_cast<std::int32_t>(rng() % scale);
    }
    for (float ratio : {1.0f, 2.0f, 0.5f, 1.0f / 3.0f, 1.37f}) {
      const auto [portable, vector] = both_ways([&] {
        const varpair::Table2x2 t = varpair::mdr_risk_table(cells, ratio);
        return std::array<std::int32_t, 4>{t.a, t.b, t.c, t.d};
      });
      ASSERT_EQ(vector, portable) << "trial " << trial << " ratio " << ratio;
    }
  }
}

// The EM in vector lanes gives every pair the frequencies of the one-pair estimate, bit for bit:
// large and small counts, zero counts (whose log-likelihood is not a number), few and many double
// heterozygotes, and groups that do not fill the lanes.
TEST_F(VectorCounts, VectorEmGivesTheSameFrequencies) {
  ASSERT_TRUE(varpair::vector_em_available());
  std::vector<varpair::HaplotypeCounts> counts;
  for (int k = 0; k < 20000; ++k) {
    varpair::HaplotypeCounts h;
    const int scale = k % 3 == 0 ? 10 : k % 3 == 1 ? 400 : 6000;
    auto draw = [&](int zero_one_in) { return rng() % zero_one_in == 0 ? 0 : static_cast<int>(rng() % scale); };
    h.nAB = draw(5);
    h.nAb = draw(5);
    h.naB = draw(5);
    h.nab = draw(5);
    h.nDH = k % 7 == 0 ? 0 : 1 + static_cast<int>(rng() % (scale / 2 + 1));
    h.genotyped = (h.nAB + h.nAb + h.naB + h.nab) / 2 + h.nDH;
    h.n = h.genotyped + static_cast<int>(rng() % 5);
    counts.push_back(h);
  }
  for (int n : {1, 15, 16, 17, 20000}) {
    std::vector<varpair::HaplotypeFrequencies> vector(n);
    varpair::estimate_haplotypes_many(counts.data(), n, vector.data());
    for (int k = 0; k < n; ++k) {
      const auto scalar = varpair::estimate_haplotypes(counts[k]);
      ASSERT_EQ(std::memcmp(&scalar, &vector[k], sizeof scalar), 0)
          << "pair " << k << ": " << scalar.pAB << " " << vector[k].pAB << " " << scalar.pab << " " << vector[k].pab;
    }
  }
}

}  // namespace
