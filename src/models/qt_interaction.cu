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
}  // namespace

namespace varpair {

// Sums of one trait's test that need the pair: per genotype cell (i, j) its samples, and the sums
// of y and of each covariate over them; over the samples with a missing call, the sums of the
// products that the trait's totals hold, to take off.
struct QtPairSums {
  std::int64_t cells[3][3];
  std::int64_t y[3][3];
  std::int64_t c[3][3][kQtMaxCovariates];
  Wide off_yy;
  Wide off_cy[kQtMaxCovariates];
  Wide off_cc[kQtMaxCovariates][kQtMaxCovariates];
};

struct QtEvaluation {
  using Record = QtFound;
  static constexpr int kRecords = kQtMaxPhenotypes;
  static constexpr bool kReadsMasks = true;
  const std::uint8_t* data;
  unsigned long long* counters;  // per trait: tests, singular designs, collinear interactions, too few

  template <class T>
  __host__ __device__ const T* at(std::uint64_t offset) const {
    return reinterpret_cast<const T*>(data + offset);
  }

  __host__ __device__ void pair_sums(const QtLayout& l, int trait, const ClassMasks& a, const ClassMasks& b,
                                     std::int32_t words, QtPairSums& s) const {
    const int k = l.covariates;
    const std::uint64_t* present = at<std::uint64_t>(l.present) + static_cast<std::size_t>(trait) * l.words;
    const std::int32_t* y = at<std::int32_t>(l.y) + static_cast<std::size_t>(trait) * l.samples;
    const std::int32_t* c = at<std::int32_t>(l.c);
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) {
        s.cells[i][j] = 0;
        s.y[i][j] = 0;
        for (int v = 0; v < k; ++v) s.c[i][j][v] = 0;
      }
    s.off_yy = 0;
    for (int v = 0; v < k; ++v) {
      s.off_cy[v] = 0;
      for (int u = 0; u <= v; ++u) s.off_cc[u][v] = 0;
    }
    for (std::int32_t w = 0; w < words; ++w) {
      const std::uint64_t ok = present[w];
      const std::uint64_t ga[3] = {a.m[0][w] & ok, a.m[1][w] & ok, a.m[2][w] & ok};
      const std::uint64_t gb[3] = {b.m[0][w], b.m[1][w], b.m[2][w]};
      for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
          std::uint64_t bits = ga[i] & gb[j];
          s.cells[i][j] += popcount64(bits);
          for (; bits != 0; bits &= bits - 1) {
            const std::size_t sample = static_cast<std::size_t>(w) * 64 + static_cast<std::size_t>(ctz64(bits));
            s.y[i][j] += y[sample];
            for (int v = 0; v < k; ++v) s.c[i][j][v] += c[static_cast<std::size_t>(v) * l.samples + sample];
          }
        }
      // The trait's samples with a missing call at either SNP.
      for (std::uint64_t bits = ok & ~((ga[0] | ga[1] | ga[2]) & (gb[0] | gb[1] | gb[2])); bits != 0;
           bits &= bits - 1) {
        const std::size_t sample = static_cast<std::size_t>(w) * 64 + static_cast<std::size_t>(ctz64(bits));
        const Wide ys = y[sample];
        s.off_yy += ys * ys;
        for (int v = 0; v < k; ++v) {
          const Wide cv = c[static_cast<std::size_t>(v) * l.samples + sample];
          s.off_cy[v] += cv * ys;
          for (int u = 0; u <= v; ++u) s.off_cc[u][v] += static_cast<Wide>(c[static_cast<std::size_t>(u) * l.samples + sample]) * cv;
        }
      }
    }
  }

  // The design's sums from the pair's: columns C..., A, B, AB.
  __host__ __device__ static void design_sums(const QtLayout& l, int trait, const QtPairSums& p, const Wide* yy,
                                              const Wide* cy, const Wide* cc, QtSums& s) {
    const int k = l.covariates, a = k, b = k + 1, ab = k + 2;
    s.columns = k + 3;
    s.n = 0;
    for (int c = 0; c < s.columns; ++c) {
      s.x[c] = 0;
      s.xy[c] = 0;
      for (int d = c; d < s.columns; ++d) s.xx[c][d] = 0;
    }
    s.y = 0;
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) {
        const Wide n = p.cells[i][j], sy = p.y[i][j];
        const Wide fa = i, fb = j, fab = i * j;
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
        s.y += sy;
        s.xy[a] += fa * sy;
        s.xy[b] += fb * sy;
        s.xy[ab] += fab * sy;
        for (int v = 0; v < k; ++v) {
          const Wide sc = p.c[i][j][v];
          s.x[v] += sc;
          s.xx[v][a] += fa * sc;
          s.xx[v][b] += fb * sc;
          s.xx[v][ab] += fab * sc;
        }
      }
    const std::size_t t = static_cast<std::size_t>(trait);
    s.yy = yy[t] - p.off_yy;
    for (int v = 0; v < k; ++v) {
      s.xy[v] = cy[t * static_cast<std::size_t>(k) + static_cast<std::size_t>(v)] - p.off_cy[v];
      for (int u = 0; u <= v; ++u)
        s.xx[u][v] = cc[(t * static_cast<std::size_t>(k) + static_cast<std::size_t>(u)) * static_cast<std::size_t>(k) +
                        static_cast<std::size_t>(v)] -
                     p.off_cc[u][v];
    }
  }

  __host__ __device__ int operator()(const ClassMasks& a, const ClassMasks& b, std::int32_t words, std::int32_t,
                                     std::int32_t, Record* out) const {
    const QtLayout& l = *at<QtLayout>(0);
    const double* critical = at<double>(l.critical);
    int m = 0;
    for (int trait = 0; trait < l.traits; ++trait) {
      QtPairSums p;
      pair_sums(l, trait, a, b, words, p);
      QtSums s;
      design_sums(l, trait, p, at<Wide>(l.yy), at<Wide>(l.cy), at<Wide>(l.cc), s);
      const QtTest test = qt_fit(s);
      atomicAdd(counters + 4 * trait + static_cast<int>(test.status), 1ull);
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
  return model_of<QtEvaluation, qt_within_group_kernel, qt_between_groups_kernel>(parts);
}

}  // namespace varpair
