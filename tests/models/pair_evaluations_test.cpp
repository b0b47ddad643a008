#include "models/pair_evaluations.h"

#include <gtest/gtest.h>

#include "interaction/table_2x2.h"

namespace {

using varpair::PairCells;

PairCells cells_of(const int (&cases)[9], const int (&controls)[9]) {
  PairCells c{};
  for (int k = 0; k < 9; ++k) {
    c.cases[k / 3][k % 3] = cases[k];
    c.controls[k / 3][k % 3] = controls[k];
    c.n_cases += cases[k];
    c.n_controls += controls[k];
  }
  return c;
}

TEST(MdrRiskTable, TheWorkedExample) {
  // Equal case and control counts (ratio 1): (0,0) and (1,1) high-risk; (0,1), (1,0), (1,2), (2,1)
  // low-risk; (0,2), (2,0), (2,2) tied.
  const auto t =
      varpair::mdr_risk_table(cells_of({30, 10, 5, 10, 20, 5, 5, 5, 10}, {20, 15, 5, 15, 10, 10, 5, 10, 10}), 1.0f);
  EXPECT_EQ(t.a, 50);
  EXPECT_EQ(t.b, 30);
  EXPECT_EQ(t.c, 30);
  EXPECT_EQ(t.d, 50);
  EXPECT_NEAR(varpair::yates_chi_square(t.a, t.b, t.c, t.d), 9.025f, 1e-5f);
  const auto ratio = varpair::odds_ratio(t.a, t.b, t.c, t.d);
  EXPECT_NEAR(ratio.value, 2.7778f, 1e-4f);
  EXPECT_NEAR(ratio.lower, 1.4645f, 1e-4f);
  EXPECT_NEAR(ratio.upper, 5.2687f, 1e-4f);
  varpair::InteractionRecord r{};
  EXPECT_FALSE(varpair::test_table(t.a, t.b, t.c, t.d, {0.0f, 2.0f}, r)) << "OR above 2 but its interval is not";
}

TEST(MdrRiskTable, CellsAreWeighedByTheControlToCaseRatio) {
  auto single = [](int cases, int controls, float ratio) {
    return varpair::mdr_risk_table(cells_of({cases, 0, 0, 0, 0, 0, 0, 0, 0}, {controls, 0, 0, 0, 0, 0, 0, 0, 0}),
                                   ratio);
  };
  EXPECT_EQ(single(5, 5, 1.0f).a + single(5, 5, 1.0f).b, 0) << "a tie joins neither class";
  EXPECT_EQ(single(6, 5, 1.0f).a, 6) << "high-risk";
  EXPECT_EQ(single(10, 20, 2.0f).a + single(10, 20, 2.0f).b, 0) << "200 controls, 100 cases: 10 vs 20 ties";
  EXPECT_EQ(single(10, 19, 2.0f).a, 10);
  EXPECT_EQ(single(10, 21, 2.0f).b, 10);
  EXPECT_EQ(single(0, 0, 3.0f).c + single(0, 0, 3.0f).d, 0) << "an empty cell";
}

TEST(DomrecTables, EachModelIsItsCellAgainstTheOtherGenotypedSamples) {
  // cases[x][y] = 10 x + y + 1, controls 2 each.
  int cases[9], controls[9];
  for (int k = 0; k < 9; ++k) {
    cases[k] = 10 * (k / 3) + k % 3 + 1;
    controls[k] = 2;
  }
  const PairCells cells = cells_of(cases, controls);
  const int total = cells.n_cases;
  struct Expected {
    int a, c;
  };
  const Expected expected[4] = {
      {1 + 2 + 11 + 12, 8},  // (AA+Aa)*(BB+Bb)
      {1 + 11, 4},           // (AA+Aa)*BB
      {1 + 2, 4},            // AA*(BB+Bb)
      {1, 2},                // AA*BB
  };
  for (int model = 0; model < 4; ++model) {
    const auto t = varpair::domrec_table(cells, model);
    EXPECT_EQ(t.a, expected[model].a) << model;
    EXPECT_EQ(t.b, total - expected[model].a) << model;
    EXPECT_EQ(t.c, expected[model].c) << model;
    EXPECT_EQ(t.d, 18 - expected[model].c) << model;
  }
}

}  // namespace
