// The maximum-likelihood LD estimate at the mathematics' edges, and against the maximum found by a
// plain search of the likelihood in long double.
#include "ld/ld_ml.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

using varpair::HaplotypeCounts;
using varpair::LdMeasure;

HaplotypeCounts counts(std::int32_t nAB, std::int32_t nAb, std::int32_t naB, std::int32_t nab, std::int32_t nDH) {
  HaplotypeCounts h;
  h.nAB = nAB, h.nAb = nAb, h.naB = naB, h.nab = nab, h.nDH = nDH;
  h.n = h.genotyped = (nAB + nAb + naB + nab) / 2 + nDH;
  return h;
}

// The likelihood's maximum over the split by golden sections on a fine grid's best cell, in long
// double with the library's logarithm: the frequency pAB there.
long double searched_pab(const HaplotypeCounts& h) {
  const long double t = static_cast<long double>(h.nAB) + h.nAb + h.naB + h.nab + 2.0L * h.nDH;
  const long double pa = (static_cast<long double>(h.nAB) + h.nAb + h.nDH) / t;
  const long double pb = (static_cast<long double>(h.nAB) + h.naB + h.nDH) / t;
  const auto ll = [&](long double f) {
    const long double g = 1 - pa - pb + f, ab = pa - f, ba = pb - f;
    long double v = 0;
    if (h.nAB) v += h.nAB * std::log(f);
    if (h.nAb) v += h.nAb * std::log(ab);
    if (h.naB) v += h.naB * std::log(ba);
    if (h.nab) v += h.nab * std::log(g);
    if (h.nDH) v += h.nDH * std::log(f * g + ab * ba);
    return v;
  };
  const long double lo = h.nAB / t, hi = (h.nAB + h.nDH) / t;
  long double best = lo;
  for (int k = 0; k <= 4000; ++k) {
    const long double f = lo + (hi - lo) * k / 4000;
    if (ll(f) > ll(best)) best = f;
  }
  long double a = std::max(lo, best - (hi - lo) / 4000), b = std::min(hi, best + (hi - lo) / 4000);
  for (int k = 0; k < 200; ++k) {
    const long double m1 = a + (b - a) * 0.381966L, m2 = a + (b - a) * 0.618034L;
    (ll(m1) < ll(m2) ? a : b) = ll(m1) < ll(m2) ? m1 : m2;
  }
  return ll(a) > ll(best) ? a : best;
}

TEST(LdMaximumLikelihood, ItsLogarithmIsTheLibrarys) {
  std::mt19937 rng(3);
  for (int k = 0; k < 100000; ++k) {
    const double x = std::ldexp(1.0 + (rng() % 1000000) / 1e6, static_cast<int>(rng() % 200) - 150);
    ASSERT_NEAR(varpair::exact_log(x), std::log(x), 4e-16 * std::max(1.0, std::fabs(std::log(x)))) << x;
  }
  EXPECT_EQ(varpair::exact_log(1.0), 0.0);
}

TEST(LdMaximumLikelihood, EdgesOfTheCounts) {
  // No double heterozygotes: the counts' shares, as the EM gives them.
  const auto none = counts(30, 10, 5, 55, 0);
  const auto p = varpair::estimate_haplotypes_ml(none);
  EXPECT_DOUBLE_EQ(p.pAB, 0.3);
  EXPECT_DOUBLE_EQ(p.pab, 0.55);
  EXPECT_NEAR(varpair::ld_measure_ml<LdMeasure::kR2>(none),
              varpair::ld_measure<LdMeasure::kR2>(varpair::estimate_haplotypes(none)), 1e-6);
  // Only double heterozygotes: both phases at once are the two maxima, in complete LD either way.
  const auto all = counts(0, 0, 0, 0, 40);
  EXPECT_FLOAT_EQ(varpair::ld_measure_ml<LdMeasure::kR2>(all), 1.0f);
  EXPECT_FLOAT_EQ(varpair::ld_measure_ml<LdMeasure::kDprime>(all), 1.0f);
  // A SNP that does not vary: 0.
  const auto fixed = counts(40, 0, 20, 0, 0);
  EXPECT_EQ(varpair::ld_measure_ml<LdMeasure::kR2>(fixed), 0.0f);
  EXPECT_EQ(varpair::ld_measure_ml<LdMeasure::kDprime>(fixed), 0.0f);
  // 12 samples, 8 double heterozygotes and one of each homozygote: two maxima that mirror each
  // other, r2 = 1/3 at both (PLINK 1.9's value), where the EM from its start stays at 0.
  const auto mirror = counts(2, 2, 2, 2, 8);
  EXPECT_NEAR(varpair::ld_measure_ml<LdMeasure::kR2>(mirror), 1.0 / 3.0, 1e-6);
  EXPECT_LT(varpair::ld_measure<LdMeasure::kR2>(varpair::estimate_haplotypes(mirror)), 1e-6f);
}

TEST(LdMaximumLikelihood, FindsTheMaximumOfTheLikelihood) {
  std::mt19937 rng(12);
  int multiple = 0;
  for (int trial = 0; trial < 1000; ++trial) {
    const std::int32_t scale = trial % 3 == 0 ? 1 : trial % 3 == 1 ? 50 : 40000;  // up to millions
    const auto draw = [&] { return static_cast<std::int32_t>(rng() % (trial % 5 == 0 ? 3 : 31)) * scale; };
    const auto h = counts(draw(), draw(), draw(), draw(), (1 + static_cast<std::int32_t>(rng() % 40)) * scale);
    const auto got = varpair::estimate_haplotypes_ml(h);
    const long double want = searched_pab(h);
    const long double t = static_cast<long double>(h.nAB) + h.nAb + h.naB + h.nab + 2.0L * h.nDH;
    // Equal likelihoods at two points (mirrored maxima) may be taken either way.
    const long double pa = (static_cast<long double>(h.nAB) + h.nAb + h.nDH) / t;
    const long double pb = (static_cast<long double>(h.nAB) + h.naB + h.nDH) / t;
    if (std::fabs(static_cast<long double>(got.pAB) - want) > 1e-7L) {
      ++multiple;
      EXPECT_NEAR(static_cast<double>(std::fabs(got.pAB - pa * pb)), static_cast<double>(std::fabs(want - pa * pb)),
                  1e-7)
          << "not the maximum: nAB " << h.nAB << " nAb " << h.nAb << " naB " << h.naB << " nab " << h.nab << " nDH "
          << h.nDH << ": " << got.pAB << " against " << static_cast<double>(want);
    }
  }
  EXPECT_LT(multiple, 30);
}

}  // namespace
