// qt_interaction's fit in vector lanes is the scalar fit (the GPU's) bit for bit on every target,
// at its edges too: constant and collinear columns, an interaction above the inflation limit, a
// trait fitted exactly, too few samples, idle lanes.
#include "models/qt_fit_lanes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <set>
#include <vector>

#include "support/targets.h"

namespace {

using varpair::QtStatus;
using varpair::QtSums;
using varpair::Wide;

enum class Shape { kRandom, kConstantB, kBIsA, kInflated, kExact, kTooFew };

// The exact sums of a design of k covariates over n samples of the given shape.
QtSums design(std::mt19937_64& rng, int k, int n, Shape shape) {
  QtSums s{};
  s.columns = k + 3;
  s.n = n;
  for (int i = 0; i < n; ++i) {
    std::int64_t x[varpair::kQtMaxColumns];
    for (int c = 0; c < k; ++c) x[c] = static_cast<std::int64_t>(rng() % (1u << 30)) - (1 << 29);
    const std::int64_t a = static_cast<std::int64_t>(rng() % 3);
    std::int64_t b = static_cast<std::int64_t>(rng() % 3);
    if (shape == Shape::kConstantB) b = 1;
    if (shape == Shape::kBIsA) b = a;
    if (shape == Shape::kInflated) b = i < 3 ? 0 : 1;  // AB is A but at three samples
    x[k] = a, x[k + 1] = b, x[k + 2] = a * b;
    std::int64_t y = static_cast<std::int64_t>(rng() % (1u << 30)) - (1 << 29);
    if (shape == Shape::kExact) y = (k > 0 ? x[0] : 0) + 5000 * a - 700 * b + 90000 * a * b;
    for (int c = 0; c < s.columns; ++c) {
      s.x[c] += x[c];
      s.xy[c] += static_cast<Wide>(x[c]) * y;
      for (int d = c; d < s.columns; ++d) s.xx[c][d] += static_cast<Wide>(x[c]) * x[d];
    }
    s.y += y;
    s.yy += static_cast<Wide>(y) * y;
  }
  return s;
}

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(QtFitLanes, EveryLaneIsTheScalarFitBitForBitAtTheEdges) {
  std::mt19937_64 rng(29);
  std::set<QtStatus> seen;
  for (const int k : {0, 3, 10}) {
    const int m = k + 3;
    // Two traits share each design: the second is the first's sums but its own y.
    std::vector<std::vector<QtSums>> batches;
    for (const Shape shape :
         {Shape::kRandom, Shape::kConstantB, Shape::kBIsA, Shape::kInflated, Shape::kExact, Shape::kTooFew}) {
      std::vector<QtSums> lanes;
      for (int lane = 0; lane < (shape == Shape::kRandom ? varpair::kQtLanes : 5); ++lane)
        lanes.push_back(design(rng, k, shape == Shape::kTooFew ? m + 1 - lane % 2 : 60 + lane * 37, shape));
      batches.push_back(lanes);
    }
    varpair::test::for_each_target([&](const std::string& target) {
      if (target == "portable") return;  // the lanes are the vector targets'
      for (const auto& lanes : batches) {
        varpair::QtLaneBatch batch{};
        batch.m = m;
        batch.traits = 2;
        std::vector<QtSums> second = lanes;
        for (std::size_t lane = 0; lane < varpair::kQtLanes; ++lane) {
          if (lane >= lanes.size()) {  // idle, as the tiles leave one
            batch.n[lane] = batch.df[lane] = 1;
            batch.status[lane] = static_cast<double>(static_cast<int>(QtStatus::kTooFew));
            continue;
          }
          const QtSums& s = lanes[lane];
          second[lane].y = s.y / 2 + 17;
          second[lane].yy = s.yy / 3 + Wide{1} * s.n * 17 * 17;
          for (int c = 0; c < m; ++c) second[lane].xy[c] = s.xy[c] / 2 + 17 * s.x[c];
          batch.n[lane] = static_cast<double>(s.n);
          batch.df[lane] = static_cast<double>(s.n - (m + 1));
          batch.status[lane] =
              static_cast<double>(static_cast<int>(s.n <= m + 1 ? QtStatus::kTooFew : QtStatus::kTest));
          for (int c = 0; c < m; ++c)
            for (int d = 0; d <= c; ++d)
              batch.xx[c * (c + 1) / 2 + d][lane] = varpair::centred_times_n(s.n, s.xx[d][c], s.x[d], s.x[c]);
          for (int t = 0; t < 2; ++t) {
            const QtSums& u = t == 0 ? s : second[lane];
            for (int c = 0; c < m; ++c) batch.xy[t][c][lane] = varpair::centred_times_n(u.n, u.xy[c], u.x[c], u.y);
            batch.yy[t][lane] = varpair::centred_times_n(u.n, u.yy, u.y, u.y);
          }
        }
        varpair::QtLaneTests tests;
        varpair::qt_fit_lanes(batch, tests);
        for (std::size_t lane = 0; lane < lanes.size(); ++lane)
          for (int t = 0; t < 2; ++t) {
            const varpair::QtTest scalar = varpair::qt_fit(t == 0 ? lanes[lane] : second[lane]);
            seen.insert(scalar.status);
            const auto status = static_cast<QtStatus>(static_cast<int>(tests.status[t][lane]));
            ASSERT_EQ(status, scalar.status) << target << ", k " << k << ", lane " << lane << ", trait " << t;
            if (status != QtStatus::kTest) continue;
            EXPECT_TRUE(same_bits(tests.beta[t][lane], scalar.beta) && same_bits(tests.se[t][lane], scalar.se) &&
                        same_bits(tests.t[t][lane], scalar.t))
                << target << ", k " << k << ", lane " << lane << ", trait " << t << ": " << tests.t[t][lane]
                << " against " << scalar.t;
          }
      }
    });
  }
  // The edges were reached: every outcome a fit has.
  EXPECT_EQ(seen, (std::set<QtStatus>{QtStatus::kTest, QtStatus::kSingular, QtStatus::kCollinear, QtStatus::kTooFew}));
}

}  // namespace
