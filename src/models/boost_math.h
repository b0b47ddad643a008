// BOOST (Wan et al. 2010), the case/control test of SNP-SNP interaction: the likelihood ratio of
// the saturated log-linear model of a pair's 3 x 3 x 2 table (SNP0 genotype i, SNP1 genotype j,
// status k) against the model without the three-way term. Kept here: what every pair needs on the
// device, its degrees of freedom and the screen. The screen is the statistic of the Kirkwood
// superposition approximation (KSA) of the fitted table,
//   p_ijk ~ n_ij. n_i.k n_.jk / (n_i.. n_.j. n_..k),  tau = sum of them,
//   T = 2 sum n_ijk ln(n_ijk tau / (N p_ijk)),
// which lies in the model without the three-way term, so that T is never below the statistic of
// its maximum-likelihood fit (boost_fit.h): pairs whose screen stays below the cut-off cannot pass.
// With L(n) = n ln n from a table and ln of tau near 1 it reads
//   T = 2 [sum L(n_ijk) - sum L(n_ij.) - sum L(n_i.k) - sum L(n_.jk)
//          + sum L(n_i..) + sum L(n_.j.) + sum L(n_..k) - L(N) + N ln tau]
// in double precision. Its rounding differs between the GPU's and the C library's logarithm; the
// thresholds it is held against are lowered by far more than that (boost_screen_thresholds), and
// every pair that reaches them is fitted exactly on the host, so the decision of what is reported
// never depends on the rounding.
#pragma once

#include <cmath>
#include <cstdint>

#include "device/runtime.h"
#include "interaction/pair_counts.h"

namespace varpair {

// A pair that reached the screen, as the kernels send it back: its 18 cells, for the exact fit.
struct BoostPairCells {
  std::int32_t snp0, snp1, label;
  std::int32_t cases[9];     // [3 g0 + g1]
  std::int32_t controls[9];  // [3 g0 + g1]
};

// Degrees of freedom of the test: (r - 1)(c - 1), where r and c count the genotypes of SNP0 and
// of SNP1 that occur among the samples genotyped at both. 0: not a test.
__host__ __device__ __forceinline__ int boost_degrees_of_freedom(const std::int32_t* cases,
                                                                 const std::int32_t* controls) {
  int rows = 0, columns = 0;
  for (int x = 0; x < 3; ++x) {
    std::int32_t row = 0, column = 0;
    for (int y = 0; y < 3; ++y) {
      row += cases[3 * x + y] + controls[3 * x + y];
      column += cases[3 * y + x] + controls[3 * y + x];
    }
    rows += row > 0;
    columns += column > 0;
  }
  return rows > 1 && columns > 1 ? (rows - 1) * (columns - 1) : 0;
}

// The run data the screen reads on the device, as one array of doubles:
//   [0] the tables' size S (samples + 1), [1 .. 4] the screen thresholds by degrees of freedom
//   (3 is unused), then L(n) = n ln n for n < S, then 1 / n for n < S (0 for n = 0).
constexpr int kBoostTablesAt = 5;

struct BoostScreen {
  const double* data;

  __host__ __device__ __forceinline__ double threshold(int df) const { return data[df]; }
  __host__ __device__ __forceinline__ const double* xlogx() const { return data + kBoostTablesAt; }
  __host__ __device__ __forceinline__ const double* inverse() const {
    return data + kBoostTablesAt + static_cast<std::int64_t>(data[0]);
  }
};

// The pieces of the KSA statistic: T = 2 (sum + N ln tau).
struct BoostScreenTerms {
  double sum;  // the L terms
  double tau;  // near 1
  double n;    // samples genotyped at both SNPs
};

// The sums run in several independent parts: one long chain of additions would cost more than all
// the table reads.
__host__ __device__ __forceinline__ BoostScreenTerms boost_screen_terms(const std::int32_t* cases,
                                                                        const std::int32_t* controls,
                                                                        const BoostScreen& screen) {
  const double* L = screen.xlogx();
  const double* inv = screen.inverse();
  std::int32_t ac[3][2], bc[3][2], a[3], b[3];
  double rows[3];
  for (int x = 0; x < 3; ++x) {
    const std::int32_t* n1 = cases + 3 * x;
    const std::int32_t* n0 = controls + 3 * x;
    rows[x] = ((L[n1[0]] + L[n0[0]]) - L[n1[0] + n0[0]]) + ((L[n1[1]] + L[n0[1]]) - L[n1[1] + n0[1]]) +
              ((L[n1[2]] + L[n0[2]]) - L[n1[2] + n0[2]]);
    ac[x][0] = n1[0] + n1[1] + n1[2];
    ac[x][1] = n0[0] + n0[1] + n0[2];
    bc[x][0] = cases[x] + cases[3 + x] + cases[6 + x];
    bc[x][1] = controls[x] + controls[3 + x] + controls[6 + x];
  }
  double margins[3];
  for (int x = 0; x < 3; ++x) {
    a[x] = ac[x][0] + ac[x][1];
    b[x] = bc[x][0] + bc[x][1];
    margins[x] = (L[a[x]] + L[b[x]]) - ((L[ac[x][0]] + L[ac[x][1]]) + (L[bc[x][0]] + L[bc[x][1]]));
  }
  const std::int32_t n_cases = ac[0][0] + ac[1][0] + ac[2][0];
  const std::int32_t n_controls = ac[0][1] + ac[1][1] + ac[2][1];
  const double status = (L[n_cases] + L[n_controls]) - L[n_cases + n_controls];
  // tau = sum over ij of n_ij. / (n_i.. n_.j.) sum over k of n_i.k n_.jk / n_..k
  const double inv_cases = inv[n_cases], inv_controls = inv[n_controls];
  double by_row[3];
  for (int x = 0; x < 3; ++x) {
    const double case_part = static_cast<double>(ac[x][0]) * inv_cases;
    const double control_part = static_cast<double>(ac[x][1]) * inv_controls;
    double t = 0.0;
    for (int y = 0; y < 3; ++y) {
      const double both = static_cast<double>(cases[3 * x + y] + controls[3 * x + y]);
      t +=
          both * inv[b[y]] * (case_part * static_cast<double>(bc[y][0]) + control_part * static_cast<double>(bc[y][1]));
    }
    by_row[x] = t * inv[a[x]];
  }
  return BoostScreenTerms{((rows[0] + rows[1]) + (rows[2] + status)) + ((margins[0] + margins[1]) + margins[2]),
                          (by_row[0] + by_row[1]) + by_row[2], static_cast<double>(n_cases + n_controls)};
}

// The KSA statistic T of a pair's cells (see above).
__host__ __device__ __forceinline__ double boost_screen_statistic(const std::int32_t* cases,
                                                                  const std::int32_t* controls,
                                                                  const BoostScreen& screen) {
  const BoostScreenTerms t = boost_screen_terms(cases, controls, screen);
  return 2.0 * (t.sum + t.n * log(t.tau));
}

// The likelihood ratio of the saturated model against status independent of both genotypes,
//   2 [sum over ij of (L(n_ij1) + L(n_ij0) - L(n_ij.)) - (L(n_..1) + L(n_..0) - L(N))].
// That model lies inside the model without the three-way term, so this too is never below the
// exact statistic; it takes a third of the screen's work.
__host__ __device__ __forceinline__ double boost_independence_statistic(const std::int32_t* cases,
                                                                        const std::int32_t* controls,
                                                                        const BoostScreen& screen) {
  const double* L = screen.xlogx();
  double rows[3];
  std::int32_t n_cases = 0, n_controls = 0;
  for (int x = 0; x < 3; ++x) {
    const std::int32_t* n1 = cases + 3 * x;
    const std::int32_t* n0 = controls + 3 * x;
    rows[x] = ((L[n1[0]] + L[n0[0]]) - L[n1[0] + n0[0]]) + ((L[n1[1]] + L[n0[1]]) - L[n1[1] + n0[1]]) +
              ((L[n1[2]] + L[n0[2]]) - L[n1[2] + n0[2]]);
    n_cases += n1[0] + n1[1] + n1[2];
    n_controls += n0[0] + n0[1] + n0[2];
  }
  const double status = (L[n_cases] + L[n_controls]) - L[n_cases + n_controls];
  return 2.0 * (((rows[0] + rows[1]) + rows[2]) - status);
}

// Whether the KSA statistic reaches `threshold`. Most pairs fall below it by one of two upper
// bounds of the exact statistic first: the independence statistic above, and the KSA with
// ln tau <= tau - 1; only the others take the logarithm.
__host__ __device__ __forceinline__ bool boost_screen_reaches(const std::int32_t* cases, const std::int32_t* controls,
                                                              const BoostScreen& screen, double threshold) {
  if (!(boost_independence_statistic(cases, controls, screen) >= threshold)) return false;
  const BoostScreenTerms t = boost_screen_terms(cases, controls, screen);
  if (!(2.0 * (t.sum + t.n * (t.tau - 1.0)) >= threshold)) return false;
  return 2.0 * (t.sum + t.n * log(t.tau)) >= threshold;
}

}  // namespace varpair
