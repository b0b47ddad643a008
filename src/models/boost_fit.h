// The exact BOOST test of one pair, on the host in double precision: the maximum-likelihood fit of
// the log-linear model without the three-way term by iterative proportional fitting (by Newton's
// method on its logistic form where the fitting crawls towards the boundary), its likelihood-ratio
// statistic against the saturated model, the degrees of freedom and the p-value.
// Both backends send the pairs that reach the screen here, so both report the same values.
#pragma once

#include <array>
#include <cstdint>

#include "interaction/interaction_model.h"

namespace varpair {

struct BoostTest {
  double statistic;  // 0 where the fit reproduces the table up to rounding
  int df;            // 0: not a test
  double p;          // upper tail of chi-square at df degrees of freedom; 1 when df is 0
};

// From the nine case and nine control cells of a pair ([3 g0 + g1]).
BoostTest boost_exact_test(const std::int32_t* cases, const std::int32_t* controls);

// By degrees of freedom (1, 2 and 4; the others unused): the least statistic whose p-value is at
// most alpha, as boost_exact_test computes p-values.
std::array<double, 5> boost_thresholds(double alpha);

// The screen's thresholds for tables of up to `samples` samples: boost_thresholds lowered by far
// more than the screen's rounding can reach.
std::array<double, 5> boost_screen_thresholds(double alpha, std::int64_t samples);

// The screen's run data (boost_math.h's layout) for the run's samples and cut-off, and the lines
// that report the thresholds.
ModelRunData boost_run_data(const RunShape& shape);

}  // namespace varpair
