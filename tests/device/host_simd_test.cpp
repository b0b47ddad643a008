// Every vector target of the host backend gives the portable code's numbers, which the GPU runs:
// the counting of genotype combinations, the interaction filters and the EM, each on every target
// this processor has (forced one after another).
#include "device/host_simd.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <set>
#include <vector>

#include "device/exact_products.h"
#include "interaction/pair_counts.h"
#include "interaction/table_2x2.h"
#include "interaction/table_vector.h"
#include "ld/ld_em_vector.h"
#include "ld/ld_math.h"
#include "models/pair_evaluations.h"
#include "support/targets.h"

namespace {

using varpair::test::for_each_target;

// The results of `compute` on every target equal the portable path's.
template <class Compute>
void same_on_every_target(Compute&& compute) {
  bool first = true;
  decltype(compute()) portable{};
  for_each_target([&](const std::string&) {
    if (first) {
      portable = compute();
      first = false;
    } else {
      EXPECT_EQ(compute(), portable);
    }
  });
}

TEST(HostTargets, TheProcessorsBestIsNamedAndEveryTargetCanBeForced) {
  const auto targets = varpair::host_simd::available_targets();
  ASSERT_GE(targets.size(), 1u);
  EXPECT_EQ(targets.front(), 0);
  std::set<std::string> names;
  for_each_target([&](const std::string& name) { names.insert(name); });
  EXPECT_EQ(names.count("portable"), 1u);
  // SSSE3 and SSE4 builds aside, the names are distinct (AVX-512 with and without VPOPCNTDQ share one).
  EXPECT_GE(names.size(), targets.size() - 1);
#if defined(__x86_64__)
  // Every x86-64 build here has at least SSE4 or SSSE3 beyond the portable path.
  EXPECT_TRUE(varpair::host_simd::enabled());
  EXPECT_GE(targets.size(), 2u);
#endif
}

TEST(HostTargets, PackedLdRowsCountTheSame) {
  std::mt19937_64 rng(17);
  // Around one vector of every width (128 to 512 samples), runs that end mid-vector, and rows whose
  // last byte holds fewer than four samples where their bytes fill whole vectors (125, 253 ...).
  for (int samples : {1, 31, 32, 125, 127, 128, 129, 253, 255, 256, 257, 509, 511, 512, 600, 1021, 1024, 5000}) {
    std::vector<unsigned char> row0((samples + 3) / 4), row1(row0.size());
    for (auto& b : row0) b = static_cast<unsigned char>(rng());
    for (auto& b : row1) b = static_cast<unsigned char>(rng());
    // Padding bits past the last sample are 0, as packed rows hold them.
    if (samples % 4 != 0) {
      row0.back() &= static_cast<unsigned char>((1u << (2 * (samples % 4))) - 1);
      row1.back() &= static_cast<unsigned char>((1u << (2 * (samples % 4))) - 1);
    }
    SCOPED_TRACE(samples);
    same_on_every_target([&] {
      const auto h = varpair::count_haplotypes(row0.data(), row1.data(), samples);
      return std::array<std::int32_t, 7>{h.nAB, h.nAb, h.naB, h.nab, h.nDH, h.n, h.genotyped};
    });
  }
}

// Rows without a missing genotype count three combinations and take the rest from their totals.
TEST(HostTargets, PackedRowsWithTotalsCountTheSame) {
  std::mt19937_64 rng(5);
  for (int samples : {1, 127, 128, 129, 253, 255, 256, 257, 509, 600, 1024, 5000}) {
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
    SCOPED_TRACE(samples);
    for_each_target([&](const std::string&) {
      const auto h = varpair::count_haplotypes(row0.data(), row1.data(), samples, totals0, totals1);
      EXPECT_EQ(
          (std::array<std::int32_t, 7>{h.nAB, h.nAb, h.naB, h.nab, h.nDH, h.n, h.genotyped}),
          (std::array<std::int32_t, 7>{full.nAB, full.nAb, full.naB, full.nab, full.nDH, full.n, full.genotyped}));
    });
  }
}

// The filter never drops a table whose scalar chi-square reaches the threshold, and the models'
// records are the portable path's: small, large and empty tables, thresholds at computed values and
// just above, a threshold of 0 (every table, a zero denominator included), 1 to 9 tables.
TEST(HostTargets, ChiSquareFilterKeepsEveryTableThatReachesTheThreshold) {
  std::mt19937_64 rng(23);
  for (int trial = 0; trial < 2000; ++trial) {
    const int scale = trial % 3 == 0 ? 8 : trial % 3 == 1 ? 500 : 200000;
    const int tables = 1 + trial % 9;
    const std::int32_t n_cases = trial % 50 == 0 ? 0 : static_cast<std::int32_t>(rng() % scale) + 1;
    const std::int32_t n_controls = static_cast<std::int32_t>(rng() % scale) + 1;
    std::int32_t a[9], c[9];
    for (int t = 0; t < tables; ++t) {
      a[t] = n_cases == 0 ? 0 : static_cast<std::int32_t>(rng() % (n_cases + 1));
      c[t] = static_cast<std::int32_t>(rng() % (n_controls + 1));
    }
    auto chi = [&](int t) { return varpair::yates_chi_square(a[t], n_cases - a[t], c[t], n_controls - c[t]); };
    for (float threshold : {0.0f, 3.841f, 19.5114f, chi(0), std::nextafter(chi(0), 1e30f)}) {
      std::uint32_t expected = 0;
      for (int t = 0; t < tables; ++t)
        if (chi(t) >= threshold) expected |= 1u << t;
      for_each_target([&](const std::string&) {
        const std::uint32_t kept = varpair::chi_square_candidates(a, c, tables, n_cases, n_controls, threshold);
        ASSERT_EQ(kept & expected, expected) << "trial " << trial << " threshold " << threshold;
        ASSERT_EQ(kept >> tables, 0u);
      });
    }
  }
}

TEST(HostTargets, ModelsRecordTheSameTables) {
  std::mt19937_64 rng(29);
  for (int trial = 0; trial < 1500; ++trial) {
    const int scale = trial % 3 == 0 ? 6 : trial % 3 == 1 ? 300 : 40000000;
    varpair::PairCells cells{};
    for (int k = 0; k < 9; ++k) {
      std::int32_t& cases = cells.cases[k / 3][k % 3];
      cases = static_cast<std::int32_t>(rng() % scale);
      cells.controls[k / 3][k % 3] = rng() % 4 == 0 ? 2 * cases : static_cast<std::int32_t>(rng() % scale);
    }
    cells.n_cases = cells.n_controls = 0;
    for (int k = 0; k < 9; ++k) {
      cells.n_cases += cells.cases[k / 3][k % 3];
      cells.n_controls += cells.controls[k / 3][k % 3];
    }
    const varpair::InteractionThresholds thresholds{trial % 2 == 0 ? 3.841f : 0.5f, 1.2f};
    SCOPED_TRACE(trial);
    auto records = [&](auto evaluation) {
      varpair::InteractionRecord out[9];
      const int m = evaluation(cells, 0, 0, out);
      std::vector<std::array<float, 6>> kept;
      for (int k = 0; k < m; ++k)
        kept.push_back({static_cast<float>(out[k].label), static_cast<float>(out[k].a), static_cast<float>(out[k].c),
                        out[k].chi_square, out[k].or_lower, out[k].or_upper});
      return kept;
    };
    same_on_every_target([&] { return records(varpair::NineGenotypeEvaluation{thresholds}); });
    same_on_every_target([&] { return records(varpair::DomrecEvaluation{thresholds}); });
    // MDR's classes at ties of simple ratios, ratios that round, counts past 2^24 where floats round.
    for (float ratio : {1.0f, 2.0f, 0.5f, 1.0f / 3.0f, 1.37f}) {
      same_on_every_target([&] {
        const varpair::Table2x2 t = varpair::mdr_risk_table(cells, ratio);
        return std::array<std::int32_t, 4>{t.a, t.b, t.c, t.d};
      });
      same_on_every_target([&] { return records(varpair::MdrEvaluation{thresholds, ratio}); });
    }
  }
}

// The EM in vector lanes gives every pair the frequencies of the one-pair estimate, bit for bit:
// large and small counts, zero counts (whose log-likelihood is not a number), few and many double
// heterozygotes, groups that do not fill the lanes, and groups without a pair to estimate.
TEST(HostTargets, VectorEmGivesTheSameFrequencies) {
  std::mt19937_64 rng(31);
  std::vector<varpair::HaplotypeCounts> counts;
  for (int k = 0; k < 20000; ++k) {
    varpair::HaplotypeCounts h;
    const int scale = k % 3 == 0 ? 10 : k % 3 == 1 ? 400 : 6000;
    auto draw = [&](int zero_one_in) { return rng() % zero_one_in == 0 ? 0 : static_cast<int>(rng() % scale); };
    h.nAB = draw(5);
    h.nAb = draw(5);
    h.naB = draw(5);
    h.nab = draw(5);
    h.nDH = k % 7 == 0 || (k >= 100 && k < 140) ? 0 : 1 + static_cast<int>(rng() % (scale / 2 + 1));
    h.genotyped = (h.nAB + h.nAb + h.naB + h.nab) / 2 + h.nDH;
    h.n = h.genotyped + static_cast<int>(rng() % 5);
    counts.push_back(h);
  }
  for_each_target([&](const std::string& target) {
    if (target == "portable") return;  // the vector EM is what is checked
    for (int n : {1, 7, 15, 16, 17, 40, 20000}) {
      for (int first : {0, 100}) {
        std::vector<varpair::HaplotypeFrequencies> vector(n);
        varpair::estimate_haplotypes_many(counts.data() + first, n, vector.data());
        for (int k = 0; k < n; ++k) {
          const auto scalar = varpair::estimate_haplotypes(counts[first + k]);
          ASSERT_EQ(std::memcmp(&scalar, &vector[k], sizeof scalar), 0)
              << "pair " << first + k << ": " << scalar.pAB << " " << vector[k].pAB;
        }
      }
    }
  });
}

// The products of qt_interaction's tiles: every sum exact, whatever the target's lanes and blocks,
// for row and column counts that leave every kind of remainder, with the largest values a tile
// holds (|y A| <= 2^31 against counts 0 to 2) over a step's samples; and its weighted sums over
// missing calls (values below 2^31 by counts), for counts of weightings, widths and samples that
// leave every remainder of the blocks and lanes.
TEST(HostTargets, ExactProductsAreTheIntegerSums) {
  std::mt19937_64 rng(17);
  constexpr std::size_t kStride = 1032, kRows = 11, kColumns = 7;
  const auto aligned = [](std::size_t count) {
    return std::unique_ptr<double, decltype(&std::free)>(
        static_cast<double*>(std::aligned_alloc(varpair::host_simd::kExactAlign, count * sizeof(double))), &std::free);
  };
  auto rows = aligned(kRows * kStride), columns = aligned(kColumns * kStride);
  for (std::size_t i = 0; i < kRows * kStride; ++i)
    rows.get()[i] =
        static_cast<double>(static_cast<std::int64_t>(rng() % (std::uint64_t{1} << 32)) - (std::int64_t{1} << 31));
  for (std::size_t i = 0; i < kColumns * kStride; ++i) columns.get()[i] = static_cast<double>(rng() % 3);
  for_each_target([&](const std::string& target) {
    if (target == "portable") return;  // the tiles run on the vector targets only
    for (const std::size_t row_count : {std::size_t{1}, std::size_t{3}, std::size_t{4}, std::size_t{5}, kRows})
      for (const std::size_t column_count : {std::size_t{1}, std::size_t{2}, std::size_t{5}, kColumns})
        for (const std::size_t n : {std::size_t{8}, std::size_t{512}, std::size_t{1024}}) {
          std::vector<std::int64_t> out(row_count * column_count, 5);  // the sums are added to it
          varpair::host_simd::exact_products(rows.get(), row_count, columns.get(), column_count, n, kStride,
                                             out.data());
          for (std::size_t r = 0; r < row_count; ++r)
            for (std::size_t c = 0; c < column_count; ++c) {
              std::int64_t sum = 5;
              for (std::size_t i = 0; i < n; ++i)
                sum += static_cast<std::int64_t>(rows.get()[r * kStride + i]) *
                       static_cast<std::int64_t>(columns.get()[c * kStride + i]);
              ASSERT_EQ(out[r * column_count + c], sum)
                  << target << " " << row_count << "x" << column_count << " n " << n;
            }
        }
    for (const std::size_t width : {std::size_t{8}, std::size_t{24}})
      for (const std::size_t count : {std::size_t{1}, std::size_t{4}, std::size_t{7}})
        for (const std::size_t n : {std::size_t{1}, std::size_t{3}, std::size_t{41}}) {
          // The values: rows' first width entries of n rows, on the alignment; the weights: columns'.
          const std::size_t out_stride = width + 3;
          std::vector<std::int64_t> out(count * out_stride, -7);
          varpair::host_simd::exact_weighted_sums(columns.get(), count, n, rows.get(), width, n, out.data(),
                                                  out_stride);
          for (std::size_t w = 0; w < count; ++w)
            for (std::size_t q = 0; q < out_stride; ++q) {
              std::int64_t sum = -7;
              for (std::size_t s = 0; s < n && q < width; ++s)
                sum += static_cast<std::int64_t>(columns.get()[w * n + s]) *
                       static_cast<std::int64_t>(rows.get()[s * width + q]);
              ASSERT_EQ(out[w * out_stride + q], sum)
                  << target << " " << count << " weightings, width " << width << ", n " << n << ", at " << q;
            }
        }
  });
}

}  // namespace
