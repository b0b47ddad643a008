// Counting the genotype combinations of two SNPs from their masks, shared by the interaction
// kernels: cell (x, y) = sum over words of popcount(mask_x(SNP0) AND mask_y(SNP1)).
#pragma once

#include <cstdint>

#include "device/bits.h"
#include "device/runtime.h"
#include "device/vector_path.h"

namespace varpair {

// cells[x][y] += combinations of mask x of the first SNP and mask y of the second, over `words`
// words; first[k] and second[k] point at the SNPs' words of mask kind k.
template <int kKinds>
__host__ __device__ __forceinline__ void count_cells(const std::uint64_t* const* first,
                                                     const std::uint64_t* const* second, std::int32_t words,
                                                     std::int32_t (&cells)[kKinds][kKinds]) {
  if constexpr (kKinds == 3) {
    if (vector_path::count_cells3(first, second, words, cells)) return;
  }
  for (std::int32_t w = 0; w < words; ++w) {
    std::uint64_t x[kKinds], y[kKinds];
    for (int k = 0; k < kKinds; ++k) {
      x[k] = first[k][w];
      y[k] = second[k][w];
    }
    for (int i = 0; i < kKinds; ++i)
      for (int j = 0; j < kKinds; ++j) cells[i][j] += popcount64(x[i] & y[j]);
  }
}

// The masks of genotype classes 0, 1 and 2 of one SNP of a group (row `row`, `words` words each).
struct ClassMasks {
  const std::uint64_t* m[3];
};

__host__ __device__ __forceinline__ ClassMasks class_masks(const std::uint64_t* const (&group)[3], std::uint64_t row,
                                                           std::int32_t words) {
  const std::uint64_t at = row * static_cast<std::uint64_t>(words);
  return ClassMasks{{group[0] + at, group[1] + at, group[2] + at}};
}

// The nine genotype cells of a pair for cases and controls, and the samples genotyped at both SNPs.
struct PairCells {
  std::int32_t cases[3][3];
  std::int32_t controls[3][3];
  std::int32_t n_cases;
  std::int32_t n_controls;
};

__host__ __device__ __forceinline__ PairCells count_pair_cells(const ClassMasks& case0, const ClassMasks& case1,
                                                               const ClassMasks& control0, const ClassMasks& control1,
                                                               std::int32_t case_words, std::int32_t control_words) {
  PairCells cells = {{{0, 0, 0}, {0, 0, 0}, {0, 0, 0}}, {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}}, 0, 0};
  count_cells<3>(case0.m, case1.m, case_words, cells.cases);
  count_cells<3>(control0.m, control1.m, control_words, cells.controls);
  for (int x = 0; x < 3; ++x)
    for (int y = 0; y < 3; ++y) {
      cells.n_cases += cells.cases[x][y];
      cells.n_controls += cells.controls[x][y];
    }
  return cells;
}

}  // namespace varpair
