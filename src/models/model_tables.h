// How the MDR and dominant-recessive models reduce a pair's nine genotype cells to one 2x2 table;
// shared by their kernels and tested directly.
#pragma once

#include <cstdint>

#include "device/runtime.h"
#include "interaction/pair_counts.h"

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
      if (weighted_cases > controls) {
        t.a += cells.cases[x][y];
        t.c += cells.controls[x][y];
      } else if (weighted_cases < controls) {
        t.b += cells.cases[x][y];
        t.d += cells.controls[x][y];
      }
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

}  // namespace varpair
