// Device unit of qt_interaction: for each pair and trait, the exact sums of the trait's test over
// the samples with both genotypes (qt_math.h), the fit, and the tests whose |T| may reach the
// cut-off sent back. The family's four constants are set, and not read.
#include "interaction/model_constants.h"
#include "interaction/pass_kernel.cuh"
#include "models/qt_interaction.h"
#include "models/qt_table.h"

namespace {
__constant__ unsigned int qt_d_control_columns;
__constant__ unsigned int qt_d_case_columns;
__constant__ float qt_d_chisq_threshold;
__constant__ float qt_d_or_threshold;

constexpr const char* kSideOutputs[] = {varpair::kSummarySuffix};
}  // namespace

namespace varpair {

// Sums of one trait's test that need the pair. Over the trait's samples: the nine genotype cells'
// counts; the sums of y and of each covariate over the cells of genotypes 1 and 2 at SNP0 (those
// the product AB weighs, with the row sums that give the cell not passed over); and over the samples with a missing call at either SNP, what
// is taken off the trait's totals and the SNPs' own sums (qt_run_data). Cells with a genotype 0 need
// no pass over their samples: their sums follow from the totals.
// The pass over a pair's samples that its traits share. Cells (1 + i, j): genotype 1 + i of the
// rows' SNP (SNP1 when `swapped`: the SNP with more samples of genotype 0, so fewer in these rows)
// and j of the other, for two of its genotypes: not `derived`, its commonest, whose cell is the
// row's sum less the other two. Over every sample used: each trait's y (0 where the trait is
// missing, so that these are the trait's own sums) and each covariate (a trait takes off its
// missing samples).
struct QtSharedSums {
  bool swapped;
  int derived;
  int passed[2];
  std::int64_t y[2][3][kQtMaxPhenotypes];
  std::int64_t c[2][3][kQtMaxCovariates];
};

// One trait's sums that need the pair: the nine genotype cells' counts over its samples, the cell
// sums above for its samples, and over its samples with a missing call at either SNP, what is taken
// off the trait's totals and the SNPs' own sums (qt_run_data).
struct QtPairSums {
  std::int64_t cells[3][3];
  std::int64_t y[2][3];
  std::int64_t c[2][3][kQtMaxCovariates];
  std::int64_t off_y, off_a_y[2], off_b_y[2];  // missing at either SNP; those of them with genotype 1 + i at a, at b
  std::int64_t off_c[kQtMaxCovariates], off_a_c[2][kQtMaxCovariates], off_b_c[2][kQtMaxCovariates];
  Wide off_yy;
  Wide off_cy[kQtMaxCovariates];
  Wide off_cc[kQtMaxCovariates][kQtMaxCovariates];
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

  __host__ __device__ void pair_sums(const QtLayout& l, int trait, const ClassMasks& a, const ClassMasks& b,
                                     std::int32_t words, const QtSharedSums& shared, QtPairSums& s) const {
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
      for (int j = 0; j < 3; ++j) {
        s.y[i][j] = shared.y[i][j][trait];
        for (int v = 0; v < k; ++v) s.c[i][j][v] = shared.c[i][j][v];
      }
      for (int v = 0; v < k; ++v) s.off_a_c[i][v] = s.off_b_c[i][v] = 0;
    }
    s.off_y = 0;
    s.off_yy = 0;
    for (int v = 0; v < k; ++v) {
      s.off_c[v] = 0;
      s.off_cy[v] = 0;
      for (int u = 0; u <= v; ++u) s.off_cc[u][v] = 0;
    }
    const ClassMasks& rows = shared.swapped ? b : a;
    const ClassMasks& columns = shared.swapped ? a : b;
    for (std::int32_t w = 0; w < words; ++w) {
      const std::uint64_t ok = present[w];
      const std::uint64_t ga[3] = {a.m[0][w] & ok, a.m[1][w] & ok, a.m[2][w] & ok};
      const std::uint64_t gb[3] = {b.m[0][w] & ok, b.m[1][w] & ok, b.m[2][w] & ok};
      for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) s.cells[i][j] += popcount64(ga[i] & gb[j]);
      // The covariates of the cells passed over, less the samples without the trait.
      if (k > 0 && ~ok != 0)
        for (int i = 0; i < 2; ++i)
          for (const int j : shared.passed)
            for (std::uint64_t bits = rows.m[1 + i][w] & columns.m[j][w] & ~ok; bits != 0; bits &= bits - 1) {
              const std::size_t sample = static_cast<std::size_t>(w) * 64 + static_cast<std::size_t>(ctz64(bits));
              for (int v = 0; v < k; ++v) s.c[i][j][v] -= covariate(v, sample);
            }
      // The trait's samples with a missing call at either SNP.
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
        for (int v = 0; v < k; ++v) {
          const std::int64_t cv = covariate(v, sample);
          s.off_c[v] += cv;
          if (ia >= 0) s.off_a_c[ia][v] += cv;
          if (ib >= 0) s.off_b_c[ib][v] += cv;
          s.off_cy[v] += static_cast<Wide>(cv) * ys;
          for (int u = 0; u <= v; ++u) s.off_cc[u][v] += static_cast<Wide>(covariate(u, sample)) * cv;
        }
      }
    }
  }

  // The design's sums from the pair's: columns C..., A, B, AB.
  __host__ __device__ void design_sums(const QtLayout& l, int trait, std::int32_t snp0, std::int32_t snp1,
                                       const QtSharedSums& shared, const QtPairSums& p, QtSums& s) const {
    const int k = l.covariates, a = k, b = k + 1, ab = k + 2;
    const auto t = static_cast<std::size_t>(trait), traits = static_cast<std::size_t>(l.traits);
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
        s.x[a] += fa * n;
        s.x[b] += fb * n;
        s.x[ab] += fab * n;
        s.xx[a][a] += fa * fa * n;
        s.xx[a][b] += fa * fb * n;
        s.xx[a][ab] += fa * fab * n;
        s.xx[b][b] += fb * fb * n;
        s.xx[b][ab] += fb * fab * n;
        s.xx[ab][ab] += fab * fab * n;
      }
    // A SNP's sums over its trait's samples of genotype 1 + i, less those missing at the other SNP.
    const std::int64_t* snp_y = at<std::int64_t>(l.snp_y);
    const std::int64_t* snp_c = at<std::int64_t>(l.snp_c);
    const auto row_y = [&](std::int32_t snp, int i) {
      return snp_y[(static_cast<std::size_t>(snp) * traits + t) * 2 + static_cast<std::size_t>(i)];
    };
    const auto row_c = [&](std::int32_t snp, int i, int v) {
      return snp_c[((static_cast<std::size_t>(snp) * traits + t) * 2 + static_cast<std::size_t>(i)) * kk +
                   static_cast<std::size_t>(v)];
    };
    // A row's cell not passed over: the row's sum over the test's samples less the other two.
    const auto cell = [&](const std::int64_t (&row)[3], std::int64_t sum, int j) {
      return j != shared.derived ? row[j] : sum - row[0] - row[1] - row[2];
    };
    s.y = static_cast<Wide>(at<std::int64_t>(l.ty)[t]) - p.off_y;
    s.yy = at<Wide>(l.yy)[t] - p.off_yy;
    for (int i = 0; i < 2; ++i) {
      const Wide weight = 1 + i;
      const std::int64_t at_a = row_y(snp0, i) - p.off_a_y[i], at_b = row_y(snp1, i) - p.off_b_y[i];
      const std::int64_t row = shared.swapped ? at_b : at_a;
      s.xy[a] += weight * at_a;
      s.xy[b] += weight * at_b;
      s.xy[ab] += weight * (static_cast<Wide>(cell(p.y[i], row, 1)) + 2 * static_cast<Wide>(cell(p.y[i], row, 2)));
    }
    for (int v = 0; v < k; ++v) {
      s.x[v] = static_cast<Wide>(at<std::int64_t>(l.tc)[t * kk + static_cast<std::size_t>(v)]) - p.off_c[v];
      s.xy[v] = at<Wide>(l.cy)[t * kk + static_cast<std::size_t>(v)] - p.off_cy[v];
      for (int u = 0; u <= v; ++u)
        s.xx[u][v] = at<Wide>(l.cc)[(t * kk + static_cast<std::size_t>(u)) * kk + static_cast<std::size_t>(v)] -
                     p.off_cc[u][v];
      for (int i = 0; i < 2; ++i) {
        const Wide weight = 1 + i;
        const std::int64_t at_a = row_c(snp0, i, v) - p.off_a_c[i][v], at_b = row_c(snp1, i, v) - p.off_b_c[i][v];
        const std::int64_t row = shared.swapped ? at_b : at_a;
        const std::int64_t cells[3] = {p.c[i][0][v], p.c[i][1][v], p.c[i][2][v]};
        s.xx[v][a] += weight * at_a;
        s.xx[v][b] += weight * at_b;
        s.xx[v][ab] += weight * (static_cast<Wide>(cell(cells, row, 1)) + 2 * static_cast<Wide>(cell(cells, row, 2)));
      }
    }
  }

  // On the device only: the counters are atomic additions.
  __device__ int operator()(const ClassMasks& a, const ClassMasks& b, std::int32_t words, std::int32_t snp0,
                                     std::int32_t snp1, Record* out) const {
    const QtLayout& l = *at<QtLayout>(0);
    const double* critical = at<double>(l.critical);
    int m = 0;
    QtSharedSums shared;
    shared_sums(l, a, b, words, shared);
    for (int trait = 0; trait < l.traits; ++trait) {
      QtPairSums p;
      pair_sums(l, trait, a, b, words, shared, p);
      QtSums s;
      design_sums(l, trait, snp0, snp1, shared, p, s);
      const QtTest test = qt_fit(s);
      atomicAdd(counters + 4 * trait + static_cast<int>(test.status), 1ull);
      if (test.status == QtStatus::kTest) {  // the summary's tests of each SNP
        unsigned long long* by_snp = counters + 4 * l.traits + trait;
        atomicAdd(by_snp + static_cast<std::size_t>(snp0) * l.traits, 1ull);
        atomicAdd(by_snp + static_cast<std::size_t>(snp1) * l.traits, 1ull);
      }
      if (test.status != QtStatus::kTest || test.df > l.max_df) continue;
      // The table decides by P; a hair below the critical value still goes, for its rounding.
      if (!(std::fabs(test.t) >= critical[test.df] * (1.0 - 1e-9))) continue;
      Record& r = out[m++];
      r.label = trait;
      r.n = static_cast<std::int32_t>(s.n);
      r.df = test.df;
      put_double(r.beta, test.beta * l.unit[trait]);
      put_double(r.se, test.se * l.unit[trait]);
      put_double(r.t, test.t);
    }
    return m;
  }
};

__global__ void qt_within_group_kernel(const PassArgs args) {
  run_pass<false>(args, QtEvaluation{args.model_bytes, args.model_counters});
}

__global__ void qt_between_groups_kernel(const PassArgs args) {
  run_pass<true>(args, QtEvaluation{args.model_bytes, args.model_counters});
}

const InteractionModel& qt_interaction_model() {
  ModelParts parts{&set_model_constant<qt_d_control_columns, qt_d_case_columns, qt_d_chisq_threshold, qt_d_or_threshold>,
                   &make_qt_table};
  parts.run_data = &qt_run_data;
  parts.side_outputs = kSideOutputs;
  return model_of<QtEvaluation, qt_within_group_kernel, qt_between_groups_kernel>(parts);
}

}  // namespace varpair
