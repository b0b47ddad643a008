// The host's vector counting loops give the same counts as the portable ones, which the GPU runs.
#include "device/host_simd.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "interaction/pair_counts.h"
#include "ld/ld_math.h"

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

TEST_F(VectorCounts, MaskCellsCountTheSame) {
  for (int words : {1, 7, 8, 9, 40, 79}) {
    std::vector<std::uint64_t> a[3], b[3];
    for (int k = 0; k < 3; ++k) {
      a[k].resize(words);
      b[k].resize(words);
      for (auto& w : a[k]) w = rng();
      for (auto& w : b[k]) w = rng();
    }
    const std::uint64_t* first[3] = {a[0].data(), a[1].data(), a[2].data()};
    const std::uint64_t* second[3] = {b[0].data(), b[1].data(), b[2].data()};
    const auto [portable, vector] = both_ways([&] {
      std::array<std::array<std::int32_t, 3>, 3> out{};
      std::int32_t cells[3][3] = {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}};  // counts are added to what is there
      varpair::count_cells<3>(first, second, words, cells);
      for (int x = 0; x < 3; ++x)
        for (int y = 0; y < 3; ++y) out[x][y] = cells[x][y];
      return out;
    });
    EXPECT_EQ(vector, portable) << words;
  }
}

}  // namespace
