#include "models/boost_fit.h"

#include <gsl/gsl_cdf.h>

#include <cmath>
#include <cstdio>
#include <limits>

#include "models/boost_math.h"

namespace varpair {

namespace {

constexpr int kMaxCycles = 100000;

double upper_tail(double statistic, int df) { return gsl_cdf_chisq_Q(statistic, static_cast<double>(df)); }

// The fitted table mu[x][y][k] (k = 0 cases, 1 controls) by proportional fitting of the three
// two-way margins, in the order SNP0 x SNP1, SNP0 x status, SNP1 x status, from all ones, until a
// cycle moves the table by a vanishing amount.
void fit_margins(const double (&n)[3][3][2], double total, double (&mu)[3][3][2]) {
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
    if (moved <= tolerance) break;
  }
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
  fit_margins(n, total, mu);
  // 2 sum n ln(n / mu), the fitted table normalised to the samples (it is, up to the last cycle).
  double sum = 0.0, fitted = 0.0;
  for (int x = 0; x < 3; ++x)
    for (int y = 0; y < 3; ++y)
      for (int k = 0; k < 2; ++k) {
        fitted += mu[x][y][k];
        if (n[x][y][k] > 0.0) sum += n[x][y][k] * std::log(n[x][y][k] / mu[x][y][k]);
      }
  double statistic = 2.0 * (sum + total * std::log(fitted / total));
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
