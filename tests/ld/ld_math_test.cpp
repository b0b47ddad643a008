#include "ld/ld_math.h"
#include "ld/ld_ml.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "common/packed_genotypes.h"
#include "ld/ld_input.h"
#include "ld/ld_reference.h"

namespace {

using varpair::LdMeasure;
using varpair::test::reference_counts;

// Packs genotype codes four to a byte, as the LD reader does.
std::vector<unsigned char> packed(const std::vector<int>& codes) {
  std::vector<unsigned char> bytes((codes.size() + 3) / 4, 0);
  for (std::size_t s = 0; s < codes.size(); ++s) bytes[s / 4] |= static_cast<unsigned char>(codes[s] << (2 * (s % 4)));
  return bytes;
}

float r2_of(const std::vector<int>& x, const std::vector<int>& y) {
  return varpair::ld_value<LdMeasure::kR2>(packed(x).data(), packed(y).data(), static_cast<int>(x.size()));
}
float dprime_of(const std::vector<int>& x, const std::vector<int>& y) {
  return varpair::ld_value<LdMeasure::kDprime>(packed(x).data(), packed(y).data(), static_cast<int>(x.size()));
}

TEST(LdMath, TheFourSampleWorkedExample) {
  // Pairs (0,0), (0,1), (2,2), (2,2).
  const std::vector<int> x = {0, 0, 2, 2}, y = {0, 1, 2, 2};
  const auto h = varpair::count_haplotypes(packed(x).data(), packed(y).data(), 4);
  EXPECT_EQ(h.nAB, 3);
  EXPECT_EQ(h.nAb, 1);
  EXPECT_EQ(h.naB, 0);
  EXPECT_EQ(h.nab, 4);
  EXPECT_EQ(h.nDH, 0);
  const auto p = varpair::estimate_haplotypes(h);
  EXPECT_EQ(p.pAB, 0.375f);
  EXPECT_EQ(p.pAb, 0.125f);
  EXPECT_EQ(p.paB, 0.0f);
  EXPECT_EQ(p.pab, 0.5f);
  EXPECT_NEAR(r2_of(x, y), 0.6f, 1e-6f);
  EXPECT_EQ(varpair::histogram_bin(r2_of(x, y)), 600);
  EXPECT_EQ(dprime_of(x, y), 1.0f);
}

TEST(LdMath, MonomorphicSnpsHaveNoLd) {
  const std::vector<int> mono0(40, 0), mono2(40, 2);
  std::vector<int> varied(40);
  for (int s = 0; s < 40; ++s) varied[s] = s % 3;
  EXPECT_EQ(r2_of(mono0, varied), 0.0f);
  EXPECT_EQ(dprime_of(mono0, varied), 0.0f);
  EXPECT_EQ(r2_of(varied, mono2), 0.0f);
  EXPECT_EQ(dprime_of(varied, mono2), 0.0f);
}

TEST(LdMath, WithoutDoubleHeterozygotesFrequenciesAreCountShares) {
  const std::vector<int> x = {0, 0, 1, 2, 2, 0, 1}, y = {0, 2, 0, 1, 2, 1, 2};
  const auto h = varpair::count_haplotypes(packed(x).data(), packed(y).data(), 7);
  ASSERT_EQ(h.nDH, 0);
  const auto p = varpair::estimate_haplotypes(h);
  const float total = static_cast<float>(h.nAB + h.nAb + h.naB + h.nab);
  EXPECT_EQ(p.pAB, static_cast<float>(h.nAB) / total);
  EXPECT_EQ(p.pAb, static_cast<float>(h.nAb) / total);
  EXPECT_EQ(p.paB, static_cast<float>(h.naB) / total);
  EXPECT_EQ(p.pab, static_cast<float>(h.nab) / total);
}

TEST(LdMath, CompleteLdIsOneWithinRounding) {
  std::vector<int> x, y;
  for (int s = 0; s < 50; ++s) {
    x.push_back(s % 3 == 0 ? 2 : 0);
    y.push_back(x.back());
  }
  const float r2 = r2_of(x, y);
  EXPECT_NEAR(r2, 1.0f, 1e-5f);
  EXPECT_GE(varpair::histogram_bin(r2), 999);
  const float dprime = dprime_of(x, y);
  EXPECT_NEAR(dprime, 1.0f, 1e-5f);
  EXPECT_LE(dprime, 1.0f);
}

TEST(LdMath, PairsWithoutACommonGenotypedSampleHaveNoValue) {
  EXPECT_EQ(r2_of({}, {}), -1.0f) << "no samples";
  EXPECT_EQ(r2_of({3, 0, 3}, {1, 3, 3}), -1.0f) << "never genotyped at both";
  EXPECT_EQ(dprime_of({3, 3}, {3, 3}), -1.0f);
  EXPECT_NE(r2_of({3, 0, 1}, {1, 3, 1}), -1.0f) << "one sample is enough";
}

TEST(LdMath, HistogramBins) {
  EXPECT_EQ(varpair::histogram_bin(0.0f), 0);
  EXPECT_EQ(varpair::histogram_bin(0.0009f), 0);
  EXPECT_EQ(varpair::histogram_bin(0.001f), 1);
  EXPECT_EQ(varpair::histogram_bin(0.8125f), 812);
  EXPECT_EQ(varpair::histogram_bin(0.9999f), 999);
  EXPECT_EQ(varpair::histogram_bin(1.0f), 1000);
  EXPECT_EQ(varpair::histogram_bin(1.2f), 1000);
  EXPECT_EQ(varpair::histogram_bin(std::nanf("")), 0);
}

// The rows' totals as the LD input computes them.
std::vector<std::int32_t> totals_of(const std::vector<int>& codes) {
  varpair::PackedGenotypes g;
  g.rows = 1;
  g.samples = static_cast<std::int32_t>(codes.size());
  g.stride = varpair::packed_stride(g.samples);
  const std::vector<unsigned char> bytes = packed(codes);
  g.data = varpair::allocate_host_array<std::uint8_t>(bytes.size());
  std::copy(bytes.begin(), bytes.end(), g.data.get());
  return varpair::ld_row_totals(g);
}

// The bit-plane counts, with and without the rows' totals, and the whole value agree with the
// sample-by-sample definition on random rows of every length around the 32-sample words and the
// 256-sample steps, with missing genotypes and without.
TEST(LdMath, AgreesWithTheSampleBySampleDefinition) {
  std::mt19937 rng(99);
  for (int round = 0; round < 3000; ++round) {
    const int samples = 1 + static_cast<int>(rng() % (round % 10 == 0 ? 1200 : 150));
    const int missing_rate = static_cast<int>(rng() % 4);  // 0 to 3 in 20
    std::vector<int> x(samples), y(samples);
    const int bias = static_cast<int>(rng() % 3);
    for (int s = 0; s < samples; ++s) {
      x[s] = static_cast<int>(rng() % 20) < missing_rate ? 3 : static_cast<int>(rng() % 3);
      // Correlate y with x half of the time, so that strong LD is common.
      y[s] = static_cast<int>(rng() % 20) < missing_rate ? 3
             : rng() % 2                                 ? (x[s] == 3 ? bias : x[s])
                                                         : static_cast<int>(rng() % 3);
    }
    const auto c = reference_counts(x, y);
    const std::vector<std::int32_t> tx = totals_of(x), ty = totals_of(y);
    ASSERT_EQ(tx[1], std::count(x.begin(), x.end(), 3) == 0 ? 1 : 0) << round;
    for (const auto& h :
         {varpair::count_haplotypes(packed(x).data(), packed(y).data(), samples),
          varpair::count_haplotypes(packed(x).data(), packed(y).data(), samples, tx.data(), ty.data())}) {
      ASSERT_EQ(h.nAB, c.nAB) << round;
      ASSERT_EQ(h.nAb, c.nAb) << round;
      ASSERT_EQ(h.naB, c.naB) << round;
      ASSERT_EQ(h.nab, c.nab) << round;
      ASSERT_EQ(h.nDH, c.nDH) << round;
      ASSERT_EQ(h.n, c.n) << round;
      ASSERT_EQ(h.genotyped, c.genotyped) << round;
    }
    const float r2 = r2_of(x, y), ref_r2 = varpair::test::reference_r2(c);
    const float dp = dprime_of(x, y), ref_dp = varpair::test::reference_dprime(c);
    ASSERT_TRUE(r2 == ref_r2 || (std::isnan(r2) && std::isnan(ref_r2))) << round << ": " << r2 << " vs " << ref_r2;
    ASSERT_TRUE(dp == ref_dp || (std::isnan(dp) && std::isnan(ref_dp))) << round << ": " << dp << " vs " << ref_dp;
  }
}

}  // namespace

namespace {

// Random genotype pairs of every kind: rare and common alleles, correlated or not, many double
// heterozygotes or none, a few samples or many.
varpair::HaplotypeCounts random_counts(std::mt19937& rng) {
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const int samples = 3 + static_cast<int>(rng() % 400);
  const double p = unit(rng) * unit(rng), q = unit(rng), link = unit(rng);
  std::vector<int> x(samples), y(samples);
  for (int s = 0; s < samples; ++s) {
    x[s] = (unit(rng) < p) + (unit(rng) < p);
    y[s] = unit(rng) < link ? x[s] : (unit(rng) < q) + (unit(rng) < q);
    if (unit(rng) < 0.02) y[s] = 3;
  }
  return varpair::count_haplotypes(packed(x).data(), packed(y).data(), samples);
}

template <LdMeasure kMeasure>
void expect_skips_only_pairs_below_the_cutoff() {
  std::mt19937 rng(kMeasure == LdMeasure::kR2 ? 5 : 6);
  int skipped = 0;
  for (int trial = 0; trial < 100000; ++trial) {
    const varpair::HaplotypeCounts h = random_counts(rng);
    if (!varpair::has_ld_value(h)) continue;
    // The bound holds over every split of the double heterozygotes: the EM's and the maximum's.
    const float value = varpair::ld_measure<kMeasure>(varpair::estimate_haplotypes(h));
    const float ml = varpair::ld_measure_ml<kMeasure>(h);
    for (const float cut : {0.05f, 0.2f, 0.5f, 0.8f, 0.95f, 1.0f}) {
      if (!varpair::ld_surely_below<kMeasure>(h, cut)) continue;
      ++skipped;
      ASSERT_LT(value, cut) << "nAB " << h.nAB << " nAb " << h.nAb << " naB " << h.naB << " nab " << h.nab << " nDH "
                            << h.nDH;
      ASSERT_LT(ml, cut) << "maximum likelihood; nAB " << h.nAB << " nAb " << h.nAb << " naB " << h.naB << " nab "
                         << h.nab << " nDH " << h.nDH;
    }
  }
  EXPECT_GT(skipped, 50000) << "the bound must spare most estimates, or it is of no use";
}

TEST(LdUpperBound, SkipsOnlyPairsWhoseEstimateIsBelowTheCutoff) {
  expect_skips_only_pairs_below_the_cutoff<LdMeasure::kR2>();
  expect_skips_only_pairs_below_the_cutoff<LdMeasure::kDprime>();
}

// Counts far beyond a test table's (up to billions of haplotypes, past where 32-bit products would
// overflow), with the cut-off exactly at the pair's value or just under it: never skipped.
template <LdMeasure kMeasure>
void expect_no_skip_at_or_under_the_value() {
  std::mt19937 rng(kMeasure == LdMeasure::kR2 ? 7 : 8);
  for (int trial = 0; trial < 20000; ++trial) {
    varpair::HaplotypeCounts h = random_counts(rng);
    if (!varpair::has_ld_value(h)) continue;
    const std::int32_t scale = trial % 4 == 0 ? 10 : trial % 4 == 1 ? 1000 : trial % 4 == 2 ? 100000 : 2000000;
    for (std::int32_t* count : {&h.nAB, &h.nAb, &h.naB, &h.nab, &h.nDH, &h.n, &h.genotyped}) *count *= scale;
    for (const float value :
         {varpair::ld_measure<kMeasure>(varpair::estimate_haplotypes(h)), varpair::ld_measure_ml<kMeasure>(h)})
      for (const float cut : {value, std::nextafter(value, 0.0f), value - 1e-4f}) {
        if (!(cut > 0.0f)) continue;
        ASSERT_FALSE(varpair::ld_surely_below<kMeasure>(h, cut))
            << "value " << value << " cut " << cut << " nAB " << h.nAB << " nAb " << h.nAb << " naB " << h.naB
            << " nab " << h.nab << " nDH " << h.nDH;
      }
  }
}

TEST(LdUpperBound, LargeCountsAndCutoffsAtTheValueAreNeverSkipped) {
  expect_no_skip_at_or_under_the_value<LdMeasure::kR2>();
  expect_no_skip_at_or_under_the_value<LdMeasure::kDprime>();
}

}  // namespace
