// The per-pair work of qt_interaction, shared by the GPU's pass (qt_interaction.cu, a pair a
// thread, its sums counted by the masks) and the host's tiles (qt_tiles.cpp, the sums that weigh
// the product AB taken for many pairs at once as exact products of vectors). Both hand the same
// integer sums to the same fit, so they write the same bytes.
#pragma once

#include <cmath>
#include <cstdint>

#include "interaction/pair_counts.h"
#include "models/qt_interaction.h"
#include "models/qt_math.h"

namespace varpair {

// The pass over a pair's samples that its traits share (the GPU's way to the sums that weigh AB).
// Cells (1 + i, j): genotype 1 + i of the rows' SNP (SNP1 when `swapped`: the SNP with more
// samples of genotype 0, so fewer in these rows) and j of the other, for two of its genotypes: not
// `derived`, its commonest, whose cell is the row's sum less the other two. Over every sample used:
// each trait's y (0 where the trait is missing, so that these are the trait's own sums) and each
// covariate (a trait takes off its missing samples).
struct QtSharedSums {
  bool swapped;
  int derived;
  int passed[2];
  std::int64_t y[2][3][kQtMaxPhenotypes];
  std::int64_t c[2][3][kQtMaxCovariates];
};

// One trait's sums that need the pair: the nine genotype cells' counts over its samples and, over
// its samples with a missing call at either SNP, what is taken off the trait's totals and off the
// SNPs' own sums (qt_run_data): off_ya is the sum of y A over those with a call at SNP0 (so missing
// at SNP1), off_yb of y B; off_ca and off_cb the same of each covariate. On the GPU also the cell
// sums above for its samples, and what is taken off each genotype's row sums.
struct QtPairSums {
  std::int64_t cells[3][3];
  std::int64_t off_y, off_ya, off_yb;
  std::int64_t off_c[kQtMaxCovariates], off_ca[kQtMaxCovariates], off_cb[kQtMaxCovariates];
  Wide off_yy;
  Wide off_cy[kQtMaxCovariates];
  Wide off_cc[kQtMaxCovariates][kQtMaxCovariates];
  // The GPU's only.
  std::int64_t y[2][3];
  std::int64_t c[2][3][kQtMaxCovariates];
  std::int64_t off_a_y[2], off_b_y[2];  // of the samples missing at SNP1 with genotype 1 + i at SNP0; the reverse
  std::int64_t off_a_c[2][kQtMaxCovariates], off_b_c[2][kQtMaxCovariates];
};

// Over a trait's samples with both genotypes: the sums of y AB and of each covariate times AB.
struct QtProductSums {
  Wide y;
  Wide c[kQtMaxCovariates];
};

struct QtEvaluation {
  using Record = QtFound;
  static constexpr int kRecords = kQtMaxPhenotypes;
  static constexpr bool kReadsMasks = true;
  const std::uint8_t* data;
  // Per trait: tests, singular designs, collinear interactions, too few; then per SNP and trait: tests.
  unsigned long long* counters;

  template <class T>
  __host__ __device__ const T* at(std::uint64_t offset) const {
    return reinterpret_cast<const T*>(data + offset);
  }
  __host__ __device__ const QtLayout& layout() const { return *at<QtLayout>(0); }

  __host__ __device__ void shared_sums(const QtLayout& l, const ClassMasks& a, const ClassMasks& b, std::int32_t words,
                                       QtSharedSums& s) const {
    const int k = l.covariates, traits = l.traits;
    const std::int32_t* y = at<std::int32_t>(l.y_by_sample);
    const std::int32_t* c = at<std::int32_t>(l.c);
    s.swapped = b.totals[0] > a.totals[0];
    const std::int32_t* other = s.swapped ? a.totals : b.totals;
    s.derived = other[1] >= other[0] && other[1] >= other[2] ? 1 : other[2] >= other[0] ? 2 : 0;
    s.passed[0] = s.derived == 0 ? 1 : 0;
    s.passed[1] = s.derived == 2 ? 1 : 2;
    for (int i = 0; i < 2; ++i)
      for (int j = 0; j < 3; ++j) {
        for (int t = 0; t < traits; ++t) s.y[i][j][t] = 0;
        for (int v = 0; v < k; ++v) s.c[i][j][v] = 0;
      }
    const ClassMasks& rows = s.swapped ? b : a;
    const ClassMasks& columns = s.swapped ? a : b;
    if (traits == 1 && k == 0) {  // the common case, a step a sample
      for (std::int32_t w = 0; w < words; ++w)
        for (int i = 0; i < 2; ++i)
          for (const int j : s.passed)
            for (std::uint64_t bits = rows.m[1 + i][w] & columns.m[j][w]; bits != 0; bits &= bits - 1)
              s.y[i][j][0] += y[static_cast<std::size_t>(w) * 64 + static_cast<std::size_t>(ctz64(bits))];
      return;
    }
    for (std::int32_t w = 0; w < words; ++w)
      for (int i = 0; i < 2; ++i)
        for (const int j : s.passed)
          for (std::uint64_t bits = rows.m[1 + i][w] & columns.m[j][w]; bits != 0; bits &= bits - 1) {
            const std::size_t sample = static_cast<std::size_t>(w) * 64 + static_cast<std::size_t>(ctz64(bits));
            const std::int32_t* ys = y + sample * static_cast<std::size_t>(traits);
            for (int t = 0; t < traits; ++t) s.y[i][j][t] += ys[t];
            for (int v = 0; v < k; ++v) s.c[i][j][v] += c[static_cast<std::size_t>(v) * l.samples + sample];
          }
  }

  // kCellSums: also the trait's cell sums from the shared ones (the GPU's way to the products).
  template <bool kCellSums>
  __host__ __device__ void pair_sums(const QtLayout& l, int trait, const ClassMasks& a, const ClassMasks& b,
                                     std::int32_t words, const QtSharedSums* shared, QtPairSums& s) const {
    const int k = l.covariates;
    const std::uint64_t* present = at<std::uint64_t>(l.present) + static_cast<std::size_t>(trait) * l.words;
    const std::int32_t* y = at<std::int32_t>(l.y) + static_cast<std::size_t>(trait) * l.samples;
    const std::int32_t* c = at<std::int32_t>(l.c);
    const auto covariate = [&](int v, std::size_t sample) -> std::int64_t {
      return c[static_cast<std::size_t>(v) * static_cast<std::size_t>(l.samples) + sample];
    };
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) s.cells[i][j] = 0;
    for (int i = 0; i < 2; ++i) {
      s.off_a_y[i] = s.off_b_y[i] = 0;
      if constexpr (kCellSums)
        for (int j = 0; j < 3; ++j) {
          s.y[i][j] = shared->y[i][j][trait];
          for (int v = 0; v < k; ++v) s.c[i][j][v] = shared->c[i][j][v];
        }
      for (int v = 0; v < k; ++v) s.off_a_c[i][v] = s.off_b_c[i][v] = 0;
    }
    s.off_y = s.off_ya = s.off_yb = 0;
    s.off_yy = 0;
    for (int v = 0; v < k; ++v) {
      s.off_c[v] = s.off_ca[v] = s.off_cb[v] = 0;
      s.off_cy[v] = 0;
      for (int u = 0; u <= v; ++u) s.off_cc[u][v] = 0;
    }
    for (std::int32_t w = 0; w < words; ++w) {
      const std::uint64_t ok = present[w];
      const std::uint64_t ga[3] = {a.m[0][w] & ok, a.m[1][w] & ok, a.m[2][w] & ok};
      const std::uint64_t gb[3] = {b.m[0][w] & ok, b.m[1][w] & ok, b.m[2][w] & ok};
      for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) s.cells[i][j] += popcount64(ga[i] & gb[j]);
      // The covariates of the cells passed over, less the samples without the trait.
      if constexpr (kCellSums) {
        const ClassMasks& rows = shared->swapped ? b : a;
        const ClassMasks& columns = shared->swapped ? a : b;
        if (k > 0 && ~ok != 0)
          for (int i = 0; i < 2; ++i)
            for (const int j : shared->passed)
              for (std::uint64_t bits = rows.m[1 + i][w] & columns.m[j][w] & ~ok; bits != 0; bits &= bits - 1) {
                const std::size_t sample = static_cast<std::size_t>(w) * 64 + static_cast<std::size_t>(ctz64(bits));
                for (int v = 0; v < k; ++v) s.c[i][j][v] -= covariate(v, sample);
              }
      }
      off_sums(l, k, y, covariate, w, ok, ga, gb, s);
    }
  }

  // The trait's samples with a missing call at either SNP in word w.
  template <class Covariate>
  __host__ __device__ static void off_sums(const QtLayout&, int k, const std::int32_t* y, const Covariate& covariate,
                                           std::int32_t w, std::uint64_t ok, const std::uint64_t (&ga)[3],
                                           const std::uint64_t (&gb)[3], QtPairSums& s) {
    const std::uint64_t at_a = ga[0] | ga[1] | ga[2], at_b = gb[0] | gb[1] | gb[2];
    for (std::uint64_t bits = ok & ~(at_a & at_b); bits != 0; bits &= bits - 1) {
      const std::uint64_t bit = bits & (~bits + 1);
      const std::size_t sample = static_cast<std::size_t>(w) * 64 + static_cast<std::size_t>(ctz64(bits));
      const std::int64_t ys = y[sample];
      const int ia = (ga[1] & bit) != 0 ? 0 : (ga[2] & bit) != 0 ? 1 : -1;
      const int ib = (gb[1] & bit) != 0 ? 0 : (gb[2] & bit) != 0 ? 1 : -1;
      s.off_y += ys;
      s.off_yy += static_cast<Wide>(ys) * ys;
      if (ia >= 0) s.off_a_y[ia] += ys;
      if (ib >= 0) s.off_b_y[ib] += ys;
      s.off_ya += (1 + ia) * ys;  // 0 where a has no call
      s.off_yb += (1 + ib) * ys;
      for (int v = 0; v < k; ++v) {
        const std::int64_t cv = covariate(v, sample);
        s.off_c[v] += cv;
        if (ia >= 0) s.off_a_c[ia][v] += cv;
        if (ib >= 0) s.off_b_c[ib][v] += cv;
        s.off_ca[v] += (1 + ia) * cv;
        s.off_cb[v] += (1 + ib) * cv;
        s.off_cy[v] += static_cast<Wide>(cv) * ys;
        for (int u = 0; u <= v; ++u) s.off_cc[u][v] += static_cast<Wide>(covariate(u, sample)) * cv;
      }
    }
  }

  // A SNP's sums over the trait's samples of genotype 1 + i, less those missing at the other SNP.
  __host__ __device__ std::int64_t row_y(const QtLayout& l, int trait, std::int32_t snp, int i) const {
    return at<std::int64_t>(l.snp_y)[(static_cast<std::size_t>(snp) * static_cast<std::size_t>(l.traits) +
                                      static_cast<std::size_t>(trait)) *
                                         2 +
                                     static_cast<std::size_t>(i)];
  }
  __host__ __device__ std::int64_t row_c(const QtLayout& l, int trait, std::int32_t snp, int i, int v) const {
    const auto kk = static_cast<std::size_t>(l.covariates);
    return at<std::int64_t>(l.snp_c)
        [((static_cast<std::size_t>(snp) * static_cast<std::size_t>(l.traits) + static_cast<std::size_t>(trait)) * 2 +
          static_cast<std::size_t>(i)) *
             kk +
         static_cast<std::size_t>(v)];
  }

  // The products from the cells passed over: a row's cell not passed over is the row's sum over
  // the test's samples less the other two.
  __host__ __device__ void products_from_cells(const QtLayout& l, int trait, std::int32_t snp0, std::int32_t snp1,
                                               const QtSharedSums& shared, const QtPairSums& p,
                                               QtProductSums& ab) const {
    const auto cell = [&](const std::int64_t(&row)[3], std::int64_t sum, int j) {
      return j != shared.derived ? row[j] : sum - row[0] - row[1] - row[2];
    };
    ab.y = 0;
    for (int i = 0; i < 2; ++i) {
      const std::int64_t row =
          shared.swapped ? row_y(l, trait, snp1, i) - p.off_b_y[i] : row_y(l, trait, snp0, i) - p.off_a_y[i];
      ab.y += (1 + i) * (static_cast<Wide>(cell(p.y[i], row, 1)) + 2 * static_cast<Wide>(cell(p.y[i], row, 2)));
    }
    for (int v = 0; v < l.covariates; ++v) {
      ab.c[v] = 0;
      for (int i = 0; i < 2; ++i) {
        const std::int64_t row = shared.swapped ? row_c(l, trait, snp1, i, v) - p.off_b_c[i][v]
                                                : row_c(l, trait, snp0, i, v) - p.off_a_c[i][v];
        const std::int64_t cells[3] = {p.c[i][0][v], p.c[i][1][v], p.c[i][2][v]};
        ab.c[v] += (1 + i) * (static_cast<Wide>(cell(cells, row, 1)) + 2 * static_cast<Wide>(cell(cells, row, 2)));
      }
    }
  }

  // The design's sums from the pair's: columns C..., A, B, AB (without the covariates' own products
  // where the fit has them already: `covariate_block` false).
  __host__ __device__ void design_sums(const QtLayout& l, int trait, std::int32_t snp0, std::int32_t snp1,
                                       const QtPairSums& p, const QtProductSums& ab, QtSums& s,
                                       bool covariate_block = true) const {
    const int k = l.covariates, a = k, b = k + 1, ab_column = k + 2;
    const auto t = static_cast<std::size_t>(trait);
    const auto kk = static_cast<std::size_t>(k);
    s.columns = k + 3;
    s.n = 0;
    for (int c = 0; c < s.columns; ++c) {
      s.x[c] = 0;
      s.xy[c] = 0;
      for (int d = c; d < s.columns; ++d) s.xx[c][d] = 0;
    }
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) {
        const Wide n = p.cells[i][j], fa = i, fb = j, fab = i * j;
        s.n += p.cells[i][j];
        s.x[a] += i * p.cells[i][j];
        s.x[b] += j * p.cells[i][j];
        s.x[ab_column] += i * j * p.cells[i][j];
        s.xx[a][a] += fa * fa * n;
        s.xx[a][b] += fa * fb * n;
        s.xx[a][ab_column] += fa * fab * n;
        s.xx[b][b] += fb * fb * n;
        s.xx[b][ab_column] += fb * fab * n;
        s.xx[ab_column][ab_column] += fab * fab * n;
      }
    s.y = at<std::int64_t>(l.ty)[t] - p.off_y;
    s.yy = at<Wide>(l.yy)[t] - p.off_yy;
    s.xy[a] = static_cast<Wide>(row_y(l, trait, snp0, 0)) + 2 * static_cast<Wide>(row_y(l, trait, snp0, 1)) - p.off_ya;
    s.xy[b] = static_cast<Wide>(row_y(l, trait, snp1, 0)) + 2 * static_cast<Wide>(row_y(l, trait, snp1, 1)) - p.off_yb;
    s.xy[ab_column] = ab.y;
    for (int v = 0; v < k; ++v) {
      s.x[v] = at<std::int64_t>(l.tc)[t * kk + static_cast<std::size_t>(v)] - p.off_c[v];
      s.xy[v] = at<Wide>(l.cy)[t * kk + static_cast<std::size_t>(v)] - p.off_cy[v];
      for (int u = 0; u <= v && covariate_block; ++u)
        s.xx[u][v] =
            at<Wide>(l.cc)[(t * kk + static_cast<std::size_t>(u)) * kk + static_cast<std::size_t>(v)] - p.off_cc[u][v];
      s.xx[v][a] = static_cast<Wide>(row_c(l, trait, snp0, 0, v)) + 2 * static_cast<Wide>(row_c(l, trait, snp0, 1, v)) -
                   p.off_ca[v];
      s.xx[v][b] = static_cast<Wide>(row_c(l, trait, snp1, 0, v)) + 2 * static_cast<Wide>(row_c(l, trait, snp1, 1, v)) -
                   p.off_cb[v];
      s.xx[v][ab_column] = ab.c[v];
    }
  }

  // The test's record when its |T| may reach the cut-off: the table decides by P, and a hair below
  // the critical value still goes, for its rounding.
  __host__ __device__ bool found(const QtLayout& l, int trait, std::int64_t n, const QtTest& test, Record& r) const {
    if (test.status != QtStatus::kTest || test.df > l.max_df) return false;
    if (!(std::fabs(test.t) >= at<double>(l.critical)[test.df] * (1.0 - 1e-9))) return false;
    r.label = trait;
    r.n = static_cast<std::int32_t>(n);
    r.df = test.df;
    put_double(r.beta, test.beta * l.unit[trait]);
    put_double(r.se, test.se * l.unit[trait]);
    put_double(r.t, test.t);
    return true;
  }

  // On the device only: the counters are atomic additions.
  __device__ int operator()(const ClassMasks& a, const ClassMasks& b, std::int32_t words, std::int32_t snp0,
                            std::int32_t snp1, Record* out) const {
    const QtLayout& l = layout();
    int m = 0;
    QtSharedSums shared;
    shared_sums(l, a, b, words, shared);
    for (int trait = 0; trait < l.traits; ++trait) {
      QtPairSums p;
      pair_sums<true>(l, trait, a, b, words, &shared, p);
      QtProductSums ab;
      products_from_cells(l, trait, snp0, snp1, shared, p, ab);
      QtSums s;
      design_sums(l, trait, snp0, snp1, p, ab, s);
      const QtTest test = qt_fit(s);
      atomicAdd(counters + 4 * trait + static_cast<int>(test.status), 1ull);
      if (test.status == QtStatus::kTest) {  // the summary's tests of each SNP
        unsigned long long* by_snp = counters + 4 * l.traits + trait;
        atomicAdd(by_snp + static_cast<std::size_t>(snp0) * l.traits, 1ull);
        atomicAdd(by_snp + static_cast<std::size_t>(snp1) * l.traits, 1ull);
      }
      if (found(l, trait, s.n, test, out[m])) ++m;
    }
    return m;
  }
};

}  // namespace varpair
