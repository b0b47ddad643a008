// The linear interaction test of a quantitative trait, shared by the GPU and the host: ordinary
// least squares of y on an intercept, the covariates C, the allele counts A and B and their product
// AB, over the samples with both genotypes, y and every covariate present. Its inputs are sums over
// those samples taken exactly, as integers of values put in fixed point once (qt_run_data), so they
// do not depend on the order of summation; the statistic is then the same double-precision
// operations on both backends (no contraction into fused multiply-adds, see the build flags).
#pragma once

#include <cmath>
#include <cstdint>

#include "device/runtime.h"
#include "interaction/sample_values.h"

namespace varpair {

// Exact sums of products of fixed-point values need more than 64 bits (2^60 a product).
using Wide = __int128;

constexpr int kQtMaxCovariates = kMaxCovariates;
constexpr int kQtMaxColumns = kQtMaxCovariates + 3;  // C..., A, B, AB
constexpr int kQtMaxPhenotypes = kMaxTraits;
// PLINK 1.9's default --vif: an interaction term more collinear than this is no test.
constexpr double kQtMaxVif = 50.0;

// The sums over one test's samples: the design's columns x (C..., A, B, AB; `columns` of them)
// and the trait y.
// Only the first `columns` entries (and of xx, c <= d) are read: a pair's fill leaves the rest.
struct QtSums {
  std::int64_t n;
  int columns;
  std::int64_t x[kQtMaxColumns];  // plain sums: 64 bits hold them (centred)
  std::int64_t y;
  Wide xx[kQtMaxColumns][kQtMaxColumns];
  Wide xy[kQtMaxColumns];
  Wide yy;
};

enum class QtStatus : std::int32_t { kTest = 0, kSingular = 1, kCollinear = 2, kTooFew = 3 };

struct QtTest {
  QtStatus status = QtStatus::kSingular;
  std::int32_t df = 0;
  double beta = 0, se = 0, t = 0;  // of AB, in the trait's fixed-point units
};

// A 64-bit magnitude in double, correctly rounded: its two halves are exact in double and their sum
// rounds once. No branch on the top bit, as the conversion of an unsigned integer has, which the
// random low words of the sums below mispredict half the time.
__host__ __device__ inline double magnitude_to_double(std::uint64_t v) {
  return static_cast<double>(static_cast<std::uint32_t>(v >> 32)) * 4294967296.0 +
         static_cast<double>(static_cast<std::uint32_t>(v));
}

// A wide integer in double, rounded the same way on both backends: its magnitude's high and low
// words, each rounded, then their sum, with the sign put back by an exact product.
__host__ __device__ inline double wide_to_double(Wide v) {
  const auto negative = static_cast<std::uint64_t>(v >> 64) >> 63;
  const auto flip = static_cast<unsigned __int128>(0) - negative;
  const unsigned __int128 u = (static_cast<unsigned __int128>(v) ^ flip) - flip;
  const double d = magnitude_to_double(static_cast<std::uint64_t>(u >> 64)) * 18446744073709551616.0 +
                   magnitude_to_double(static_cast<std::uint64_t>(u));
  return d * (1.0 - 2.0 * static_cast<double>(negative));
}

// The centred cross product of two columns, n * sum(uv) - sum(u) sum(v), exact, then over n in
// double: what the fit needs, without the cancellation of centring in floating point. The plain
// sums fit 64 bits (values below 2^30 in magnitude, fewer than 2^31 samples), so their product is
// one multiplication.
__host__ __device__ inline double centred(std::int64_t n, Wide uv, std::int64_t u, std::int64_t v) {
  return wide_to_double(static_cast<Wide>(n) * uv - static_cast<Wide>(u) * v) / static_cast<double>(n);
}

// The design's factor: the centred design (the intercept taken out) by Cholesky's factorisation, AB
// last, so that the coefficient of AB, its variance and its inflation come from the factor's last
// row. It depends on the design's sums only, so traits with the same samples share it.
struct QtFactor {
  QtStatus status = QtStatus::kSingular;
  int columns = 0;
  int done = 0;  // the columns whose rows of l are there
  double l[kQtMaxColumns][kQtMaxColumns];
  double diagonal[kQtMaxColumns];  // the columns' centred sums of squares
};

// Factors s's design. `known` columns of f are already there (a factor of the same sums of those
// columns: the same numbers the steps below would give them).
__host__ __device__ inline void qt_factor(const QtSums& s, QtFactor& f, int known = 0) {
  const int m = s.columns;
  const std::int64_t parameters = m + 1;
  f.columns = m;
  f.done = known;
  f.status = QtStatus::kSingular;
  if (s.n <= parameters) {
    f.status = QtStatus::kTooFew;
    return;
  }
  for (int c = known; c < m; ++c) {
    f.diagonal[c] = centred(s.n, s.xx[c][c], s.x[c], s.x[c]);
    if (!(f.diagonal[c] > 0.0)) return;  // a constant column
  }
  for (int c = known; c < m; f.done = ++c)
    for (int d = 0; d <= c; ++d) {
      double sum = centred(s.n, s.xx[d][c], s.x[d], s.x[c]);
      for (int e = 0; e < d; ++e) sum -= f.l[c][e] * f.l[d][e];
      if (d < c) {
        f.l[c][d] = sum / f.l[d][d];
      } else {
        // What is left of the column after the earlier ones: none (or rounding's worth) when it is
        // a combination of them.
        if (!(sum > 1e-10 * f.diagonal[c])) {
          f.status = c == m - 1 ? QtStatus::kCollinear : QtStatus::kSingular;
          return;
        }
        f.l[c][c] = std::sqrt(sum);
      }
    }
  // Variance inflation of A, B and AB, as PLINK 1.9 checks it (the largest of the three): a
  // column's centred sum of squares times its diagonal of the inverse, the squares of the column
  // of the factor's inverse.
  for (int j = m - 3; j < m; ++j) {
    double u[kQtMaxColumns];
    double inverse = 0.0;
    for (int i = j; i < m; ++i) {
      double sum = i == j ? 1.0 : 0.0;
      for (int e = j; e < i; ++e) sum -= f.l[i][e] * u[e];
      u[i] = sum / f.l[i][i];
      inverse += u[i] * u[i];
    }
    if (f.diagonal[j] * inverse > kQtMaxVif) {
      f.status = QtStatus::kCollinear;
      return;
    }
  }
  f.status = QtStatus::kTest;
}

// The test of one trait from its sums and the design's factor. The first `known` entries of z may
// be there already (from the same sums of those columns), and so then is `residual`, the trait's
// centred sum of squares less their squares.
__host__ __device__ inline QtTest qt_solve(const QtSums& s, const QtFactor& f, double (&z)[kQtMaxColumns],
                                           double& residual, int known = 0) {
  QtTest r;
  r.status = f.status;
  if (f.status != QtStatus::kTest) return r;
  r.status = QtStatus::kSingular;
  const int m = s.columns;
  if (known == 0) residual = centred(s.n, s.yy, s.y, s.y);
  for (int c = known; c < m; ++c) {
    double sum = centred(s.n, s.xy[c], s.x[c], s.y);
    for (int e = 0; e < c; ++e) sum -= f.l[c][e] * z[e];
    z[c] = sum / f.l[c][c];
  }
  const double last = f.l[m - 1][m - 1];
  for (int c = known; c < m; ++c) residual -= z[c] * z[c];
  r.df = static_cast<std::int32_t>(s.n - (m + 1));
  if (!(residual > 0.0)) return r;  // the trait fitted exactly: no variance to test against
  const double sigma = std::sqrt(residual / static_cast<double>(r.df));
  r.status = QtStatus::kTest;
  r.beta = z[m - 1] / last;
  r.se = sigma / last;
  r.t = z[m - 1] / sigma;
  return r;
}

// The fit from the sums.
__host__ __device__ inline QtTest qt_fit(const QtSums& s) {
  QtFactor f;
  qt_factor(s, f);
  double z[kQtMaxColumns], residual;
  return qt_solve(s, f, z, residual);
}

}  // namespace varpair
