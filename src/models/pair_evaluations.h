// What each interaction model computes from a pair's nine genotype cells of cases and controls:
// its 2x2 tables, their tests and the records of the tables that pass. Shared by the kernels of
// both backends and tested directly. An evaluation fills up to kRecords records of its Record type
// (all but the SNPs, which the pass kernel fills in) and returns how many.
#pragma once

#include <cstdint>

#include "device/runtime.h"
#include "interaction/interaction_record.h"
#include "interaction/pair_counts.h"
#include "interaction/table_2x2.h"
#include "interaction/table_vector.h"

namespace varpair {

struct Table2x2 {
  std::int32_t a, b, c, d;
};

// MDR: a cell is high-risk when its cases weighted by the control/case ratio outnumber its controls
// (single-precision comparison), low-risk when they are fewer, and in neither class on a tie (every
// empty cell). a, c are the cases and controls of the high-risk cells, b, d of the low-risk ones.
__host__ __device__ __forceinline__ Table2x2 mdr_risk_table(const PairCells& cells, float ratio) {
  Table2x2 t{0, 0, 0, 0};
  for (int x = 0; x < 3; ++x)
    for (int y = 0; y < 3; ++y) {
      const float weighted_cases = static_cast<float>(cells.cases[x][y]) * ratio;
      const float controls = static_cast<float>(cells.controls[x][y]);
      // Without branches: which class a cell falls in is as good as random.
      const std::int32_t high = weighted_cases > controls;
      const std::int32_t low = weighted_cases < controls;
      t.a += high * cells.cases[x][y];
      t.c += high * cells.controls[x][y];
      t.b += low * cells.cases[x][y];
      t.d += low * cells.controls[x][y];
    }
  return t;
}

// Dominant-recessive model m: the cell of SNP0 genotypes 0..max0 and SNP1 genotypes 0..max1, with
// (max0, max1) = (1, 1), (1, 0), (0, 1), (0, 0) for models 0 to 3; against every other genotyped
// combination.
__host__ __device__ __forceinline__ Table2x2 domrec_table(const PairCells& cells, int model) {
  const int max0 = model < 2 ? 1 : 0;
  const int max1 = model % 2 == 0 ? 1 : 0;
  Table2x2 t{0, 0, 0, 0};
  for (int x = 0; x <= max0; ++x)
    for (int y = 0; y <= max1; ++y) {
      t.a += cells.cases[x][y];
      t.c += cells.controls[x][y];
    }
  t.b = cells.n_cases - t.a;
  t.d = cells.n_controls - t.c;
  return t;
}

// Tests tables 0 ... kTables - 1 of a pair in order, those whose bit `candidates` sets; each that
// passes gives a record labelled with its index. Returns how many passed.
template <int kTables, class TableOf>
__host__ __device__ __forceinline__ int test_tables(InteractionThresholds thresholds, InteractionRecord* out,
                                                    std::uint32_t candidates, TableOf&& table_of) {
  int m = 0;
  for (int label = 0; label < kTables; ++label) {
    if (!((candidates >> label) & 1u)) continue;
    const Table2x2 t = table_of(label);
    if (!test_table(t.a, t.b, t.c, t.d, thresholds, out[m])) continue;
    out[m++].label = label;
  }
  return m;
}

// Nine-genotype model: label 3 g0 + g1 tests the cell (g0, g1) against every other cell of the
// samples genotyped at both SNPs.
struct NineGenotypeEvaluation {
  using Record = InteractionRecord;
  static constexpr int kRecords = 9;
  static constexpr const char* kLabels[kRecords] = {"AA*BB_vs_other", "AA*Bb_vs_other", "AA*bb_vs_other",
                                                    "Aa*BB_vs_other", "Aa*Bb_vs_other", "Aa*bb_vs_other",
                                                    "aa*BB_vs_other", "aa*Bb_vs_other", "aa*bb_vs_other"};
  InteractionThresholds thresholds;

  __host__ __device__ __forceinline__ int operator()(const PairCells& cells, std::int32_t, std::int32_t,
                                                     InteractionRecord* out) const {
    const std::int32_t* a = &cells.cases[0][0];  // the nine cells in label order
    const std::int32_t* c = &cells.controls[0][0];
    const std::uint32_t candidates =
        chi_square_candidates(a, c, kRecords, cells.n_cases, cells.n_controls, thresholds.chi_square);
    return test_tables<kRecords>(thresholds, out, candidates, [&](int label) {
      return Table2x2{a[label], cells.n_cases - a[label], c[label], cells.n_controls - c[label]};
    });
  }
};

// MDR: one table of the high-risk against the low-risk cells; a class without cases or controls
// gives nothing.
struct MdrEvaluation {
  using Record = InteractionRecord;
  static constexpr int kRecords = 1;
  static constexpr const char* kLabels[kRecords] = {"high_risk_vs_low_risk"};
  InteractionThresholds thresholds;
  float sample_ratio;  // controls / cases

  __host__ __device__ __forceinline__ int operator()(const PairCells& cells, std::int32_t, std::int32_t,
                                                     InteractionRecord* out) const {
    const Table2x2 t = mdr_risk_table(cells, sample_ratio);
    if (t.a < 1 || t.b < 1 || t.c < 1 || t.d < 1) return 0;
    return test_tables<kRecords>(thresholds, out, 1u, [&](int) { return t; });
  }
};

// Dominant-recessive: the four models in index order.
struct DomrecEvaluation {
  using Record = InteractionRecord;
  static constexpr int kRecords = 4;
  static constexpr const char* kLabels[kRecords] = {"(AA+Aa)*(BB+Bb)_vs_other", "(AA+Aa)*BB_vs_other",
                                                    "AA*(BB+Bb)_vs_other", "AA*BB_vs_other"};
  InteractionThresholds thresholds;

  __host__ __device__ __forceinline__ int operator()(const PairCells& cells, std::int32_t, std::int32_t,
                                                     InteractionRecord* out) const {
    std::int32_t a[kRecords], c[kRecords];
    for (int model = 0; model < kRecords; ++model) {
      const Table2x2 t = domrec_table(cells, model);
      a[model] = t.a;
      c[model] = t.c;
    }
    const std::uint32_t candidates =
        chi_square_candidates(a, c, kRecords, cells.n_cases, cells.n_controls, thresholds.chi_square);
    return test_tables<kRecords>(thresholds, out, candidates, [&](int model) {
      return Table2x2{a[model], cells.n_cases - a[model], c[model], cells.n_controls - c[model]};
    });
  }
};

}  // namespace varpair
