// The linear interaction test of a quantitative trait, shared by the GPU and the host: ordinary
// least squares of y on an intercept, the covariates C, the allele counts A and B and their product
// AB, over the samples with both genotypes, y and every covariate present. Its inputs are sums over
// those samples taken exactly, as integers of values put in fixed point once (qt_run_data), so they
// do not depend on the order of summation; the statistic is then the same double-precision
// operations on both backends (no contraction into fused multiply-adds, see the build flags).
#pragma once

#include <cmath>
#include <cstdint>

#include "device/lanes.h"
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
  std::int64_t x[kQtMaxColumns];  // plain sums: 64 bits hold them (centred_times_n)
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
// rounds once. No branch on the top bit, as the conversion of an unsigned integer has.
__host__ __device__ __forceinline__ double magnitude_to_double(std::uint64_t v) {
  return static_cast<double>(static_cast<std::uint32_t>(v >> 32)) * 4294967296.0 +
         static_cast<double>(static_cast<std::uint32_t>(v));
}

// A wide integer in double, rounded the same way on both backends: its magnitude's high and low
// words, each rounded, then their sum, with the sign put back by an exact product. One that fits 64
// bits is one conversion, which rounds it as that sum does (the high word is 0, and rounding to
// nearest is symmetric). Which way a sum goes depends on its columns more than on the pair
// (genotypes' sums are small, covariates' wide), so the branch is foreseen where the unsigned
// conversions' tests of the low word's top bit are not.
__host__ __device__ __forceinline__ double wide_to_double(Wide v) {
  const auto low = static_cast<std::int64_t>(v);
  if (static_cast<Wide>(low) == v) return static_cast<double>(low);
  const auto negative = static_cast<std::uint64_t>(v >> 64) >> 63;
  const auto flip = static_cast<unsigned __int128>(0) - negative;
  const unsigned __int128 u = (static_cast<unsigned __int128>(v) ^ flip) - flip;
  const double d = magnitude_to_double(static_cast<std::uint64_t>(u >> 64)) * 18446744073709551616.0 +
                   magnitude_to_double(static_cast<std::uint64_t>(u));
  return d * (1.0 - 2.0 * static_cast<double>(negative));
}

// The centred cross product of two columns times n, n * sum(uv) - sum(u) sum(v), exact, in double:
// what the fit needs, without the cancellation of centring in floating point. The plain sums fit 64
// bits (values at most 2^30 in magnitude, fewer than 2^31 samples), so their product is one
// multiplication.
__host__ __device__ __forceinline__ double centred_times_n(std::int64_t n, Wide uv, std::int64_t u, std::int64_t v) {
  return wide_to_double(static_cast<Wide>(n) * uv - static_cast<Wide>(u) * v);
}

// The same over n: the centred cross product.
__host__ __device__ __forceinline__ double centred(std::int64_t n, Wide uv, std::int64_t u, std::int64_t v) {
  return centred_times_n(n, uv, u, v) / static_cast<double>(n);
}

// The design's factor, for the lanes of L (device/lanes.h: one design, or a vector's worth on the
// host, each lane the same operations): the centred design (the intercept taken out) by Cholesky's
// factorisation, AB last, so that the coefficient of AB, its variance and its inflation come from
// the factor's last row. It depends on the design's sums only, so traits with the same samples share
// it. A lane that fails a check keeps the first failure's status and runs on with numbers nobody
// reads. (The host's vector instance declares a struct of these members in its target's own
// namespace, qt_fit_lanes.cpp, so the templates below take any such struct F.)
template <class L>
struct QtFactorLanes {
  using D = typename L::D;
  D l[kQtMaxColumns][kQtMaxColumns];
  D diagonal[kQtMaxColumns];   // the columns' centred sums of squares
  D status;                    // a QtStatus, in double
  typename L::MD failed;       // status is set
  typename L::MD kept_failed;  // failed by the end of the first `keep` rows (qt_factor_lanes)
  D u[kQtMaxColumns];          // a column of the factor's inverse (the inflation's check)
};

template <class L, class F>
__host__ __device__ __forceinline__ void qt_fail(F& f, typename L::MD bad, QtStatus why) {
  f.status = L::IfThenElseD(L::AndNotD(f.failed, bad), L::SetD(static_cast<double>(static_cast<int>(why))), f.status);
  f.failed = L::OrD(f.failed, bad);
}

// Factors a design of m columns whose centred sums centred(d, c), d <= c, the callable gives; f's
// status and failed come set (too few samples, or none). `known` rows of f are there already (a
// factor of the same sums of those columns: the same numbers the steps below would give them), and
// kept_failed says whether the first `keep` rows came out of a failed factor.
template <class L, class F, class Centred>
__host__ __device__ __forceinline__ void qt_factor_lanes(int m, int known, int keep, const Centred& centred_sum, F& f) {
  using D = typename L::D;
  for (int c = known; c < m; ++c) {
    f.diagonal[c] = centred_sum(c, c);
    qt_fail<L>(f, L::NotD(L::LtD(L::SetD(0.0), f.diagonal[c])), QtStatus::kSingular);  // a constant column
  }
  f.kept_failed = f.failed;
  for (int c = known; c < m; ++c) {
    for (int d = 0; d <= c; ++d) {
      D sum = d < c ? centred_sum(d, c) : f.diagonal[c];
      for (int e = 0; e < d; ++e) sum = L::SubD(sum, L::MulD(f.l[c][e], f.l[d][e]));
      if (d < c) {
        f.l[c][d] = L::DivD(sum, f.l[d][d]);
      } else {
        // What is left of the column after the earlier ones: none (or rounding's worth) when it is
        // a combination of them.
        qt_fail<L>(f, L::NotD(L::LtD(L::MulD(L::SetD(1e-10), f.diagonal[c]), sum)),
                   c == m - 1 ? QtStatus::kCollinear : QtStatus::kSingular);
        f.l[c][c] = L::SqrtD(sum);
      }
    }
    if (c == keep - 1) f.kept_failed = f.failed;
  }
  // Variance inflation of A, B and AB, as PLINK 1.9 checks it (the largest of the three): a
  // column's centred sum of squares times its diagonal of the inverse, the squares of the column
  // of the factor's inverse.
  D* const u = f.u;
  for (int j = m - 3; j < m; ++j) {
    D inverse = L::SetD(0.0);
    for (int i = j; i < m; ++i) {
      D sum = L::SetD(i == j ? 1.0 : 0.0);
      for (int e = j; e < i; ++e) sum = L::SubD(sum, L::MulD(f.l[i][e], u[e]));
      u[i] = L::DivD(sum, f.l[i][i]);
      inverse = L::AddD(inverse, L::MulD(u[i], u[i]));
    }
    qt_fail<L>(f, L::LtD(L::SetD(kQtMaxVif), L::MulD(f.diagonal[j], inverse)), QtStatus::kCollinear);
  }
}

// A trait's test, in lanes.
template <class L>
struct QtTestLanes {
  typename L::D status, beta, se, t;  // beta and se in the trait's fixed-point units
};

// The test of one trait from the design's factor, the trait's centred sum of squares `yy`, its
// centred sums with the columns centred_y(c), and the degrees of freedom. The first `known` entries
// of z may be there already (from the same sums of those columns), and so then is `residual`, the
// trait's centred sum of squares less their squares.
template <class L, class F, class T, class CentredY>
__host__ __device__ __forceinline__ void qt_solve_lanes(int m, const F& f, typename L::D yy, const CentredY& centred_y,
                                                        typename L::D df, typename L::D (&z)[kQtMaxColumns],
                                                        typename L::D& residual, int known, T& r) {
  using D = typename L::D;
  if (known == 0) residual = yy;
  for (int c = known; c < m; ++c) {
    D sum = centred_y(c);
    for (int e = 0; e < c; ++e) sum = L::SubD(sum, L::MulD(f.l[c][e], z[e]));
    z[c] = L::DivD(sum, f.l[c][c]);
  }
  const D last = f.l[m - 1][m - 1];
  for (int c = known; c < m; ++c) residual = L::SubD(residual, L::MulD(z[c], z[c]));
  // The trait fitted exactly: no variance to test against.
  const typename L::MD exact = L::NotD(L::LtD(L::SetD(0.0), residual));
  r.status = L::IfThenElseD(L::AndNotD(f.failed, exact),
                            L::SetD(static_cast<double>(static_cast<int>(QtStatus::kSingular))), f.status);
  const D sigma = L::SqrtD(L::DivD(residual, df));
  r.beta = L::DivD(z[m - 1], last);
  r.se = L::DivD(sigma, last);
  r.t = L::DivD(z[m - 1], sigma);
}

// One design's factor (the GPU's, and the host's where it takes rows from another).
struct QtFactor : QtFactorLanes<ScalarLanes> {
  __host__ __device__ QtStatus outcome() const { return static_cast<QtStatus>(static_cast<int>(status)); }
};

// Factors s's design; `known` and `keep` as qt_factor_lanes has them.
__host__ __device__ __forceinline__ void qt_factor(const QtSums& s, QtFactor& f, int known = 0, int keep = 0) {
  const int m = s.columns;
  f.failed = s.n <= m + 1;
  f.status = static_cast<double>(static_cast<int>(f.failed ? QtStatus::kTooFew : QtStatus::kTest));
  f.kept_failed = f.failed;
  if (f.failed) return;
  const auto centred_sum = [&](int d, int c) { return centred(s.n, s.xx[d][c], s.x[d], s.x[c]); };
  // Without covariates the loops unrolled: the same operations, in a third of the instructions.
  if (m == 3)
    qt_factor_lanes<ScalarLanes>(3, known, keep, centred_sum, f);
  else
    qt_factor_lanes<ScalarLanes>(m, known, keep, centred_sum, f);
}

// The test of one trait from its sums and the design's factor; z and residual as qt_solve_lanes has
// them.
__host__ __device__ __forceinline__ QtTest qt_solve(const QtSums& s, const QtFactor& f, double (&z)[kQtMaxColumns],
                                                    double& residual, int known = 0) {
  QtTest r;
  r.status = f.outcome();
  if (r.status != QtStatus::kTest) return r;
  const int m = s.columns;
  r.df = static_cast<std::int32_t>(s.n - (m + 1));
  QtTestLanes<ScalarLanes> t;
  const double yy = known == 0 ? centred(s.n, s.yy, s.y, s.y) : 0.0;
  const auto centred_y = [&](int c) { return centred(s.n, s.xy[c], s.x[c], s.y); };
  if (m == 3)
    qt_solve_lanes<ScalarLanes>(3, f, yy, centred_y, static_cast<double>(r.df), z, residual, known, t);
  else
    qt_solve_lanes<ScalarLanes>(m, f, yy, centred_y, static_cast<double>(r.df), z, residual, known, t);
  r.status = static_cast<QtStatus>(static_cast<int>(t.status));
  if (r.status != QtStatus::kTest) return r;
  r.beta = t.beta;
  r.se = t.se;
  r.t = t.t;
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
