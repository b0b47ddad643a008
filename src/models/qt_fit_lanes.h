// The fits of qt_interaction's host tiles in vector lanes: a pair a lane, by the same template the
// GPU runs a pair a thread (qt_factor_lanes and qt_solve_lanes of qt_math.h), so each lane gives
// the GPU's bits. Host build only.
#pragma once

#include <cstdint>

#include "models/qt_math.h"

namespace varpair {

// Pairs a batch: the widest target's double lanes.
constexpr int kQtLanes = 8;

// The designs of up to kQtLanes pairs with m columns, and the sums of the traits that share them:
// n times the centred sums (centred_times_n), lane by lane.
struct alignas(64) QtLaneBatch {
  int m = 0, traits = 0;
  alignas(64) double n[kQtLanes];
  alignas(64) double df[kQtLanes];                                           // n - m - 1
  alignas(64) double status[kQtLanes];                                       // kTooFew where n <= m + 1, else kTest
  alignas(64) double xx[kQtMaxColumns * (kQtMaxColumns + 1) / 2][kQtLanes];  // columns d <= c at c (c + 1) / 2 + d
  alignas(64) double xy[kQtMaxPhenotypes][kQtMaxColumns][kQtLanes];
  alignas(64) double yy[kQtMaxPhenotypes][kQtLanes];
};

// Per trait of the batch and lane: its status (a QtStatus) and, for a test, the statistics.
struct alignas(64) QtLaneTests {
  alignas(64) double status[kQtMaxPhenotypes][kQtLanes];
  alignas(64) double beta[kQtMaxPhenotypes][kQtLanes], se[kQtMaxPhenotypes][kQtLanes], t[kQtMaxPhenotypes][kQtLanes];
};

void qt_fit_lanes(const QtLaneBatch& batch, QtLaneTests& out);

}  // namespace varpair
