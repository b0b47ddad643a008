#include "ld/ld_plan.h"

#include <gtest/gtest.h>

namespace {

constexpr std::uint64_t kLots = std::uint64_t{1} << 50;  // physical memory that never binds

TEST(LdPlan, BatchIsTheLargestMultipleOfTheBlockSizeInSeventyPercentOfFreeMemory) {
  // 0.7 x free / 16 = 1000 pairs; with 256 threads a block, 768.
  const std::uint64_t free_bytes = static_cast<std::uint64_t>(1000 * 16 / 0.7) + 1;
  EXPECT_EQ(varpair::ld_batch_items(free_bytes, 16, 12, 256, kLots), 768u);
  EXPECT_EQ(varpair::ld_batch_items(100, 16, 12, 2, kLots), 4u);
  EXPECT_EQ(varpair::ld_batch_items(10, 16, 12, 1, kLots), 0u) << "too little memory for one pair";
}

TEST(LdPlan, BatchesStayBelowTwoToThe31Pairs) {
  const std::uint64_t huge_free = std::uint64_t{80} << 30;  // an 80 GB device, binary mode
  const std::uint64_t items = varpair::ld_batch_items(huge_free, 4, 4, 256, kLots);
  EXPECT_LT(items, std::uint64_t{1} << 31);
  EXPECT_EQ(items % 256, 0u);
  EXPECT_EQ(items, ((std::uint64_t{1} << 31) - 1) / 256 * 256);
}

TEST(LdPlan, TheHostCopyOfABatchStaysWithinAQuarterOfPhysicalMemory) {
  const std::uint64_t physical = std::uint64_t{16} << 30;
  const std::uint64_t items = varpair::ld_batch_items(std::uint64_t{80} << 30, 4, 4, 128, physical);
  EXPECT_LE(items * 4, physical / 4);
  EXPECT_GT(items * 4, physical / 4 - 4 * 128);
}

TEST(LdPlan, BatchesCoverThePairsInOrder) {
  // Three rows against two, batches of four pairs, two threads a block.
  const auto first = varpair::ld_batch(0, 6, 4, 2);
  EXPECT_EQ(first.count, 4u);
  EXPECT_EQ(first.blocks, 2u);
  const auto second = varpair::ld_batch(4, 6, 4, 2);
  EXPECT_EQ(second.count, 2u);
  EXPECT_EQ(second.blocks, 1u);
  const auto odd = varpair::ld_batch(0, 5, 8, 4);
  EXPECT_EQ(odd.count, 5u);
  EXPECT_EQ(odd.blocks, 2u);
}

TEST(LdPlan, AGridBeyondTheLimitIsCappedWithItsCount) {
  const auto b = varpair::ld_batch(0, std::uint64_t{1} << 40, std::uint64_t{1} << 40, 1);
  EXPECT_EQ(b.blocks, varpair::kMaxGrid);
  EXPECT_EQ(b.count, varpair::kMaxGrid);
}

}  // namespace
