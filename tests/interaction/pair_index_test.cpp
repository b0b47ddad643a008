#include "interaction/pair_index.h"

#include <gtest/gtest.h>

#include <set>
#include <utility>

namespace {

TEST(WithinGroupPairs, SmallGroupInRowMajorOrder) {
  const std::pair<std::uint64_t, std::uint64_t> expected[] = {{0, 1}, {0, 2}, {0, 3}, {1, 2}, {1, 3}, {2, 3}};
  for (std::uint64_t p = 0; p < 6; ++p) {
    const auto pos = varpair::within_group_pair(p, 4);
    EXPECT_EQ(pos.i, expected[p].first) << p;
    EXPECT_EQ(pos.j, expected[p].second) << p;
  }
}

TEST(WithinGroupPairs, EveryPairOnceInOrderForManySizes) {
  for (std::uint64_t n : {2, 3, 5, 17, 100, 101, 999, 2048}) {
    std::uint64_t p = 0;
    for (std::uint64_t i = 0; i < n; ++i)
      for (std::uint64_t j = i + 1; j < n; ++j, ++p) {
        const auto pos = varpair::within_group_pair(p, n);
        ASSERT_EQ(pos.i, i) << "n " << n << " p " << p;
        ASSERT_EQ(pos.j, j) << "n " << n << " p " << p;
        ASSERT_EQ(varpair::within_group_position(i, j, n), p) << "n " << n;
      }
  }
}

TEST(WithinGroupPairs, LargeGroupsStayExactNearBothEnds) {
  const std::uint64_t n = 3'000'000;  // 4.5e12 pairs: the square root needs every bit
  const std::uint64_t pairs = n * (n - 1) / 2;
  for (std::uint64_t p : {std::uint64_t{0}, n - 2, n - 1, pairs / 2, pairs - 2, pairs - 1}) {
    const auto pos = varpair::within_group_pair(p, n);
    ASSERT_LT(pos.i, pos.j);
    ASSERT_LT(pos.j, n);
    // Index of (i, j) in row-major order of the upper triangle.
    ASSERT_EQ(varpair::within_group_position(pos.i, pos.j, n), p);
  }
}

TEST(BetweenGroupPairs, EveryPairOnceForUnevenTilings) {
  for (auto [na, nb] : std::initializer_list<std::pair<std::uint64_t, std::uint64_t>>{
           {7, 60}, {9, 9}, {13, 14}, {14, 13}, {19, 7}, {1, 1}, {1, 100}, {100, 1}, {6, 6}, {101, 250}}) {
    std::set<std::pair<std::uint64_t, std::uint64_t>> seen;
    for (std::uint64_t p = 0; p < na * nb; ++p) {
      const auto pos = varpair::between_groups_pair(p, na, nb);
      ASSERT_LT(pos.i, na) << na << "x" << nb << " p " << p;
      ASSERT_LT(pos.j, nb) << na << "x" << nb << " p " << p;
      ASSERT_TRUE(seen.insert({pos.i, pos.j}).second) << "pair visited twice at p " << p;
      ASSERT_EQ(varpair::between_groups_position(pos.i, pos.j, na, nb), p) << na << "x" << nb;
    }
    EXPECT_EQ(seen.size(), na * nb);
  }
}

// The kernels step from a pair to the next without the closed form: within a group always, between
// groups up to the end of the tile row, which must be exactly where the next pair leaves the row.
TEST(PairSteps, StepsAgreeWithTheClosedForms) {
  for (std::uint64_t n : {2, 3, 7, 64, 250}) {
    for (std::uint64_t p = 0; p + 1 < n * (n - 1) / 2; ++p) {
      const auto next = varpair::next_within_group_pair(varpair::within_group_pair(p, n), n);
      const auto expected = varpair::within_group_pair(p + 1, n);
      ASSERT_EQ(next.i, expected.i) << n << " p " << p;
      ASSERT_EQ(next.j, expected.j) << n << " p " << p;
    }
  }
  for (auto [na, nb] : std::initializer_list<std::pair<std::uint64_t, std::uint64_t>>{
           {7, 60}, {13, 14}, {19, 7}, {1, 100}, {100, 1}, {101, 250}}) {
    for (std::uint64_t p = 0; p + 1 < na * nb; ++p) {
      std::uint64_t row_end = 0;
      const auto pos = varpair::between_groups_pair(p, na, nb, row_end);
      const auto next = varpair::between_groups_pair(p + 1, na, nb);
      ASSERT_GT(row_end, pos.j) << na << "x" << nb << " p " << p;
      ASSERT_LE(row_end, nb) << na << "x" << nb << " p " << p;
      if (pos.j + 1 < row_end) {
        ASSERT_EQ(next.i, pos.i) << na << "x" << nb << " p " << p;
        ASSERT_EQ(next.j, pos.j + 1) << na << "x" << nb << " p " << p;
      }
    }
  }
  // 7 x 60: tiles of 10 columns, so every row ends at the tile's last column.
  std::uint64_t row_end = 0;
  varpair::between_groups_pair(25, 7, 60, row_end);
  EXPECT_EQ(row_end, 20u);
  varpair::between_groups_pair(419, 7, 60, row_end);
  EXPECT_EQ(row_end, 60u);
}

TEST(BetweenGroupPairs, TilesAreTakenBandByBandAndRowByRow) {
  // 7 x 60: bands of 2 rows (the last band 1 row), tiles of 10 columns.
  auto at = [](std::uint64_t p) { return varpair::between_groups_pair(p, 7, 60); };
  EXPECT_EQ(at(0).i, 0u);
  EXPECT_EQ(at(0).j, 0u);
  EXPECT_EQ(at(9).j, 9u);
  EXPECT_EQ(at(10).i, 1u) << "second row of the first tile";
  EXPECT_EQ(at(10).j, 0u);
  EXPECT_EQ(at(20).i, 0u) << "second tile of the first band";
  EXPECT_EQ(at(20).j, 10u);
  EXPECT_EQ(at(419).i, 6u);
  EXPECT_EQ(at(419).j, 59u);
}

}  // namespace
