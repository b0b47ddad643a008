#include "interaction/genotype_masks.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <sstream>
#include <vector>

#include "common/errors.h"
#include "device/host_simd.h"
#include "device/host_testing.h"
#include "interaction/pair_counts.h"
#include "support/targets.h"
#include "support/test_support.h"

namespace {

using varpair::MaskStore;
using varpair::test::TempDir;

MaskStore masks_of(const std::string& text) {
  TempDir dir;
  varpair::MappedFile file(dir.write("t.txt", text));
  return varpair::build_genotype_masks(file);
}

TEST(GenotypeMasks, OneBitPerSampleInTheMaskOfItsGenotype) {
  const MaskStore s = masks_of("0 1 2 1\n2 2 0 9\n");
  EXPECT_EQ(s.rows, 2);
  EXPECT_EQ(s.samples, 4);
  EXPECT_EQ(s.words, 1);
  EXPECT_EQ(s.mask(0, 0)[0], 0x1u);
  EXPECT_EQ(s.mask(1, 0)[0], 0xAu);
  EXPECT_EQ(s.mask(2, 0)[0], 0x4u);
  EXPECT_EQ(s.mask(0, 1)[0], 0x4u);
  EXPECT_EQ(s.mask(1, 1)[0], 0x0u);
  EXPECT_EQ(s.mask(2, 1)[0], 0x3u) << "sample 3 (token 9) is missing";
}

TEST(GenotypeMasks, WordsHold64SamplesAndShortLinesAreMissing) {
  std::string line64, line65;
  for (int k = 0; k < 64; ++k) line64 += "1 ";
  line65 = line64 + "2";
  const MaskStore s = masks_of(line64 + "\n" + line65 + "\n0 0\n");
  EXPECT_EQ(s.samples, 65);
  EXPECT_EQ(s.words, 2);
  EXPECT_EQ(s.mask(1, 0)[0], ~0ULL);
  EXPECT_EQ(s.mask(1, 0)[1], 0u) << "the first row has no 65th sample";
  EXPECT_EQ(s.mask(2, 1)[1], 0x1u);
  EXPECT_EQ(s.mask(0, 2)[0], 0x3u);
  for (int k = 0; k < 3; ++k) EXPECT_EQ(s.mask(k, 2)[1], 0u);
  EXPECT_EQ(s.totals[3], 0) << "a short line misses calls";
  EXPECT_EQ(s.totals[4 + 3], 1);
  EXPECT_EQ(s.totals[4 + 1], 64);
}

TEST(GenotypeMasks, ManyChunksGiveEveryRowItsMasks) {
  std::ostringstream text;
  for (int r = 0; r < 2501; ++r) text << r % 3 << " " << (r + 1) % 3 << "\n";
  const MaskStore s = masks_of(text.str());
  ASSERT_EQ(s.rows, 2501);
  for (int r = 0; r < 2501; ++r) {
    ASSERT_EQ(s.mask(r % 3, r)[0] & 1u, 1u) << r;
    ASSERT_EQ(s.mask((r + 1) % 3, r)[0] & 2u, 2u) << r;
  }
}

// Every pair's cells against a count from the genotype codes, from masks of a text table and of
// packed rows, on every target of the host backend and the portable path: pairs of SNPs
// without a missing call take four counts and the totals, the others nine.
TEST(GenotypeMasks, PairCellsOfCompleteAndIncompleteSnps) {
  std::mt19937 rng(3);
  // 2100 and 3000 samples: whole vectors and words left over on every width; 8200: past the 31
  // vectors that byte-wide sums hold on AVX2.
  for (int samples : {1, 63, 64, 200, 700, 1100, 2100, 3000, 8200}) {
    const int rows = 8;  // even rows complete, odd rows missing some calls
    std::vector<std::vector<int>> codes(rows, std::vector<int>(samples));
    std::ostringstream text;
    varpair::PackedGenotypes packed;
    packed.rows = rows;
    packed.samples = samples;
    packed.stride = varpair::packed_stride(samples);
    packed.data = varpair::allocate_host_array<std::uint8_t>(rows * packed.stride);
    std::memset(packed.data.get(), 0, rows * packed.stride);
    for (int r = 0; r < rows; ++r) {
      for (int k = 0; k < samples; ++k) {
        codes[r][k] = r % 2 == 1 && (k == samples / 2 || rng() % 10 == 0) ? 3 : static_cast<int>(rng() % 3);
        text << (k ? " " : "") << (codes[r][k] == 3 ? "NA" : std::to_string(codes[r][k]));
        packed.row(r)[k / 4] |= static_cast<std::uint8_t>(codes[r][k] << (2 * (k % 4)));
      }
      text << "\n";
    }
    const MaskStore from_text = masks_of(text.str());
    const MaskStore from_packed = varpair::build_genotype_masks(packed);
    for (const MaskStore* store : {&from_text, &from_packed}) {
      const MaskStore& s = *store;
      for (int r = 0; r < rows; ++r) ASSERT_EQ(s.totals[4 * r + 3], r % 2 == 0 ? 1 : 0) << samples << " " << r;
      const std::uint64_t* group[3] = {s.masks[0].get(), s.masks[1].get(), s.masks[2].get()};
      varpair::test::for_each_target([&](const std::string& vector) {
        for (int i = 0; i < rows; ++i)
          for (int j = 0; j < rows; ++j) {
            const auto first = varpair::class_masks(group, s.totals.get(), i, s.words);
            const auto second = varpair::class_masks(group, s.totals.get(), j, s.words);
            const varpair::PairCells cells = varpair::count_pair_cells(first, second, second, first, s.words, s.words);
            int expected[3][3] = {}, genotyped = 0;
            for (int k = 0; k < samples; ++k)
              if (codes[i][k] < 3 && codes[j][k] < 3) {
                ++expected[codes[i][k]][codes[j][k]];
                ++genotyped;
              }
            for (int x = 0; x < 3; ++x)
              for (int y = 0; y < 3; ++y) {
                ASSERT_EQ(cells.cases[x][y], expected[x][y]) << samples << " " << i << " " << j << " " << vector;
                ASSERT_EQ(cells.controls[y][x], expected[x][y]) << samples << " " << i << " " << j << " " << vector;
              }
            ASSERT_EQ(cells.n_cases, genotyped);
            ASSERT_EQ(cells.n_controls, genotyped);
          }
      });
    }
  }
}

class MaskUpload : public ::testing::Test {
 protected:
  varpair::device::testing::Scope device_scope;
  MaskStore store = masks_of("0 1\n1 2\n2 0\n0 0\n");
  const varpair::MaskNames names{{"mask0", "mask1", "mask2"}, true};
};

TEST_F(MaskUpload, AGroupIsOneSnpMajorSlicePerMask) {
  varpair::DeviceMasks masks;
  varpair::upload_masks(store, 1, 3, masks, names);
  for (int k = 0; k < 3; ++k) {
    ASSERT_EQ(masks.kind[k].size(), 2 * sizeof(std::uint64_t));
    EXPECT_EQ(masks.get(k)[0], store.mask(k, 1)[0]);
    EXPECT_EQ(masks.get(k)[1], store.mask(k, 2)[0]);
  }
}

TEST_F(MaskUpload, AnEmptyGroupAllocatesNothing) {
  varpair::DeviceMasks masks;
  varpair::upload_masks(store, 2, 2, masks, names);
  EXPECT_EQ(varpair::device::testing::live_allocations(), 0u);
}

TEST_F(MaskUpload, FailuresNameTheMaskAndFreeEverything) {
  struct Case {
    varpair::device::testing::Op op;
    int skip;
    std::string message;
  };
  const Case cases[] = {
      {varpair::device::testing::Op::Malloc, 0, "Failed to allocate GPU memory for mask0"},
      {varpair::device::testing::Op::Malloc, 2, "Failed to allocate GPU memory for mask2"},
      {varpair::device::testing::Op::Malloc, 3, "Failed to allocate GPU memory for genotype totals"},
      {varpair::device::testing::Op::Memcpy, 1, "CUDA memory copy for mask1 failed: invalid argument"},
  };
  for (const Case& c : cases) {
    varpair::device::testing::fail_calls(c.op, cudaErrorInvalidValue, 1, c.skip);
    varpair::DeviceMasks masks;
    try {
      varpair::upload_masks(store, 0, 4, masks, names);
      ADD_FAILURE() << "no error for " << c.message;
    } catch (const varpair::DeviceError& e) {
      EXPECT_EQ(e.what(), c.message);
    }
    EXPECT_EQ(varpair::device::testing::live_allocations(), 0u);
  }
}

}  // namespace
