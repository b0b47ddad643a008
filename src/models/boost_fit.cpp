#include "models/boost_fit.h"

#include <gsl/gsl_cdf.h>

#include <Eigen/Dense>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "models/boost_math.h"

namespace varpair {

namespace {

// Proportional fitting converges in a few dozen cycles where the fit is inside the model's range;
// where it lies on its boundary (a fitted cell tending to 0 that no margin forces to 0) it slows
// to 1/cycles, and the logistic form below takes over.
constexpr int kMaxCycles = 1000;
constexpr int kMaxNewtonSteps = 200;

double upper_tail(double statistic, int df) { return gsl_cdf_chisq_Q(statistic, static_cast<double>(df)); }

// The fitted table mu[x][y][k] (k = 0 cases, 1 controls) by proportional fitting of the three
// two-way margins, in the order SNP0 x SNP1, SNP0 x status, SNP1 x status, from all ones, until a
// cycle moves the table by a vanishing amount; false when it did not within kMaxCycles.
bool fit_margins(const double (&n)[3][3][2], double total, double (&mu)[3][3][2]) {
  double ab[3][3] = {}, ac[3][2] = {}, bc[3][2] = {};
  for (int x = 0; x < 3; ++x)
    for (int y = 0; y < 3; ++y)
      for (int k = 0; k < 2; ++k) {
        ab[x][y] += n[x][y][k];
        ac[x][k] += n[x][y][k];
        bc[y][k] += n[x][y][k];
        mu[x][y][k] = 1.0;
      }
  const double tolerance = 1e-12 * total;
  for (int cycle = 0; cycle < kMaxCycles; ++cycle) {
    double before[3][3][2];
    for (int x = 0; x < 3; ++x)
      for (int y = 0; y < 3; ++y)
        for (int k = 0; k < 2; ++k) before[x][y][k] = mu[x][y][k];
    for (int x = 0; x < 3; ++x)
      for (int y = 0; y < 3; ++y) {
        const double s = mu[x][y][0] + mu[x][y][1];
        const double f = s > 0.0 ? ab[x][y] / s : 0.0;
        mu[x][y][0] *= f;
        mu[x][y][1] *= f;
      }
    for (int x = 0; x < 3; ++x)
      for (int k = 0; k < 2; ++k) {
        const double s = mu[x][0][k] + mu[x][1][k] + mu[x][2][k];
        const double f = s > 0.0 ? ac[x][k] / s : 0.0;
        for (int y = 0; y < 3; ++y) mu[x][y][k] *= f;
      }
    for (int y = 0; y < 3; ++y)
      for (int k = 0; k < 2; ++k) {
        const double s = mu[0][y][k] + mu[1][y][k] + mu[2][y][k];
        const double f = s > 0.0 ? bc[y][k] / s : 0.0;
        for (int x = 0; x < 3; ++x) mu[x][y][k] *= f;
      }
    double moved = 0.0;
    for (int x = 0; x < 3; ++x)
      for (int y = 0; y < 3; ++y)
        for (int k = 0; k < 2; ++k) moved += std::fabs(mu[x][y][k] - before[x][y][k]);
    if (moved <= tolerance) return true;
  }
  return false;
}

// ln(1 + e^eta) without overflow.
double log_one_plus_exp(double eta) { return eta > 0 ? eta + std::log1p(std::exp(-eta)) : std::log1p(std::exp(eta)); }

// The same model in its logistic form: case status on an intercept and the indicators of the
// genotypes of each SNP that occur (but the first), over the occupied cells, fitted by Newton's
// method with step halving; the statistic against the saturated model. On the boundary the
// coefficients grow without end while the deviance falls geometrically, so it converges where
// proportional fitting crawls. Solves through a singular value decomposition (Eigen's, as every
// regression here), which also takes the directions the data leave free.
double logistic_statistic(const double (&n)[3][3][2]) {
  int row_of[3] = {-1, -1, -1}, column_of[3] = {-1, -1, -1};
  int params = 1;
  for (int x = 0; x < 3; ++x) {
    double row = 0.0;
    for (int y = 0; y < 3; ++y) row += n[x][y][0] + n[x][y][1];
    if (row > 0.0) row_of[x] = params++;
  }
  for (int y = 0; y < 3; ++y) {
    double column = 0.0;
    for (int x = 0; x < 3; ++x) column += n[x][y][0] + n[x][y][1];
    if (column > 0.0) column_of[y] = params++;
  }
  // The first occurring genotype of each SNP is the reference: drop its column.
  for (int x = 0, dropped = 0; x < 3 && !dropped; ++x)
    if (row_of[x] >= 0) row_of[x] = -1, dropped = 1;
  for (int y = 0, dropped = 0; y < 3 && !dropped; ++y)
    if (column_of[y] >= 0) column_of[y] = -1, dropped = 1;
  struct Cell {
    double cases, all;
    int a, b;  // their parameters, -1 for none
  };
  Cell cells[9];
  int m = 0;
  double saturated = 0.0;
  for (int x = 0; x < 3; ++x)
    for (int y = 0; y < 3; ++y) {
      const double all = n[x][y][0] + n[x][y][1];
      if (all == 0.0) continue;
      cells[m++] = Cell{n[x][y][0], all, row_of[x], column_of[y]};
      for (int k = 0; k < 2; ++k)
        if (n[x][y][k] > 0.0) saturated += n[x][y][k] * std::log(n[x][y][k] / all);
    }
  // Parameters renumbered densely: intercept 0, then those of the cells.
  int index[7] = {0, -1, -1, -1, -1, -1, -1}, p = 1;
  for (int c = 0; c < m; ++c)
    for (int* q : {&cells[c].a, &cells[c].b})
      if (*q >= 0) {
        if (index[*q] < 0) index[*q] = p++;
        *q = index[*q];
      }
  double beta[5] = {}, trial[5];
  const auto log_likelihood = [&](const double* b) {
    double ll = 0.0;
    for (int c = 0; c < m; ++c) {
      const double eta = b[0] + (cells[c].a >= 0 ? b[cells[c].a] : 0.0) + (cells[c].b >= 0 ? b[cells[c].b] : 0.0);
      ll += cells[c].cases * eta - cells[c].all * log_one_plus_exp(eta);
    }
    return ll;
  };
  Eigen::MatrixXd h(p, p);
  Eigen::VectorXd g(p);
  Eigen::JacobiSVD<Eigen::MatrixXd> svd;
  // Singular values up to 1e-13 of the largest are free directions: the step leaves them.
  svd.setThreshold(1e-13);
  double ll = log_likelihood(beta);
  for (int step = 0; step < kMaxNewtonSteps; ++step) {
    h.setZero();
    g.setZero();
    for (int c = 0; c < m; ++c) {
      const int at[3] = {0, cells[c].a, cells[c].b};
      const double eta = beta[0] + (at[1] >= 0 ? beta[at[1]] : 0.0) + (at[2] >= 0 ? beta[at[2]] : 0.0);
      const double prob = 1.0 / (1.0 + std::exp(-eta));
      const double weight = cells[c].all * prob * (1.0 - prob), residual = cells[c].cases - cells[c].all * prob;
      for (int i : at) {
        if (i < 0) continue;
        g(i) += residual;
        for (int j : at)
          if (j >= 0) h(i, j) += weight;
      }
    }
    svd.compute(h, Eigen::ComputeThinU | Eigen::ComputeThinV);
    if (!(svd.singularValues()(0) > 0.0)) break;
    const Eigen::VectorXd d = svd.solve(g);
    if (!d.allFinite()) break;
    double t = 1.0, next = ll;
    for (int half = 0; half < 60; ++half, t /= 2.0) {
      for (int i = 0; i < p; ++i) trial[i] = beta[i] + t * d(i);
      next = log_likelihood(trial);
      if (next >= ll) break;
    }
    if (!(next >= ll)) break;
    const double gained = next - ll;
    for (int i = 0; i < p; ++i) beta[i] = trial[i];
    ll = next;
    if (gained <= 1e-15 * (1.0 + std::fabs(ll))) break;
  }
  return 2.0 * (saturated - ll);
}

}  // namespace

BoostTest boost_exact_test(const std::int32_t* cases, const std::int32_t* controls) {
  const int df = boost_degrees_of_freedom(cases, controls);
  if (df == 0) return BoostTest{0.0, 0, 1.0};
  double n[3][3][2];
  double total = 0.0;
  for (int x = 0; x < 3; ++x)
    for (int y = 0; y < 3; ++y) {
      n[x][y][0] = cases[3 * x + y];
      n[x][y][1] = controls[3 * x + y];
      total += n[x][y][0] + n[x][y][1];
    }
  double mu[3][3][2];
  const bool converged = fit_margins(n, total, mu);
  // 2 sum n ln(n / mu), the fitted table normalised to the samples (it is, up to the last cycle).
  double sum = 0.0, fitted = 0.0;
  for (int x = 0; x < 3; ++x)
    for (int y = 0; y < 3; ++y)
      for (int k = 0; k < 2; ++k) {
        fitted += mu[x][y][k];
        if (n[x][y][k] > 0.0) sum += n[x][y][k] * std::log(n[x][y][k] / mu[x][y][k]);
      }
  double statistic = 2.0 * (sum + total * std::log(fitted / total));
  // Each estimate's likelihood is at most the maximum, so the smaller statistic is the nearer.
  if (!converged) statistic = std::min(statistic, logistic_statistic(n));
  // A table the model reproduces gives 0 up to the rounding of its N log-likelihood terms.
  if (!(statistic > 1e-12 * total * (1.0 + std::log(total)))) statistic = 0.0;
  return BoostTest{statistic, df, statistic == 0.0 ? 1.0 : upper_tail(statistic, df)};
}

std::array<double, 5> boost_thresholds(double alpha) {
  std::array<double, 5> t{};
  for (int df = 1; df <= 4; ++df) {
    if (alpha >= 1.0) continue;  // every statistic, 0 included
    double lo = 0.0, hi = 1.0;
    while (upper_tail(hi, df) > alpha && hi < 1e300) hi *= 2.0;
    if (upper_tail(hi, df) > alpha) {
      t[static_cast<std::size_t>(df)] = std::numeric_limits<double>::infinity();
      continue;
    }
    for (int step = 0; step < 2000 && hi - lo > 0.0; ++step) {
      const double mid = lo + (hi - lo) / 2.0;
      if (mid == lo || mid == hi) break;
      (upper_tail(mid, df) > alpha ? lo : hi) = mid;
    }
    t[static_cast<std::size_t>(df)] = hi;
  }
  return t;
}

std::array<double, 5> boost_screen_thresholds(double alpha, std::int64_t samples) {
  // The screen sums some fifty terms of up to N ln N and adds N ln tau: its rounding stays below
  // 1e-13 N (ln N + 1); the margin is ten times that, and a millionth of the threshold for the
  // p-value's own rounding near it.
  const double n = static_cast<double>(samples > 1 ? samples : 1);
  const double margin = 1e-12 * n * (std::log(n) + 1.0) + 1e-9;
  std::array<double, 5> t = boost_thresholds(alpha);
  for (double& v : t)
    if (std::isfinite(v)) v = v - 1e-6 * v - margin;
  return t;
}

ModelRunData boost_run_data(const RunShape& shape) {
  const std::int64_t samples = static_cast<std::int64_t>(shape.cases) + shape.controls;
  const std::int64_t size = samples + 1;
  ModelRunData data;
  data.device.resize(static_cast<std::size_t>(kBoostTablesAt + 2 * size));
  const std::array<double, 5> screen = boost_screen_thresholds(shape.alpha, samples);
  data.device[0] = static_cast<double>(size);
  for (int df = 1; df <= 4; ++df) data.device[static_cast<std::size_t>(df)] = screen[static_cast<std::size_t>(df)];
  double* xlogx = data.device.data() + kBoostTablesAt;
  double* inverse = xlogx + size;
  for (std::int64_t n = 1; n < size; ++n) {
    const auto v = static_cast<double>(n);
    xlogx[n] = v * std::log(v);
    inverse[n] = 1.0 / v;
  }
  const std::array<double, 5> exact = boost_thresholds(shape.alpha);
  char line[160];
  std::snprintf(line, sizeof line, "Chi-square thresholds of the exact test (DF 1, 2, 4): %.6g, %.6g, %.6g", exact[1],
                exact[2], exact[4]);
  data.report.emplace_back(line);
  return data;
}

}  // namespace varpair
