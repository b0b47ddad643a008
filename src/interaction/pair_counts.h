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

// Per SNP and sample set, beside the masks: the samples of genotypes 0, 1 and 2, and 1 when these
// are all the samples (no missing call), else 0. A pair of complete SNPs needs only four of its
// nine cells counted.
constexpr int kTotalsPerRow = 4;

// The masks of genotype classes 0, 1 and 2 of one SNP of a group (row `row`, `words` words each),
// and its totals.
struct ClassMasks {
  const std::uint64_t* m[3];
  const std::int32_t* totals;
};

__host__ __device__ __forceinline__ ClassMasks class_masks(const std::uint64_t* const (&group)[3],
                                                           const std::int32_t* totals, std::uint64_t row,
                                                           std::int32_t words) {
  const std::uint64_t at = row * static_cast<std::uint64_t>(words);
  return ClassMasks{{group[0] + at, group[1] + at, group[2] + at}, totals + kTotalsPerRow * row};
}

// The nine cells of one sample set, returning their sum. When neither SNP misses a call, every row
// of the table sums to the first SNP's class total and every column to the second's: four cells
// counted give the rest.
__host__ __device__ __forceinline__ std::int32_t count_set_cells(const ClassMasks& first, const ClassMasks& second,
                                                                 std::int32_t words, std::int32_t (&cells)[3][3]) {
  std::int32_t genotyped = 0;
  if (vector_path::count_set_cells(first.m, second.m, words, first.totals, second.totals, cells, genotyped))
    return genotyped;
  bool complete = first.totals[3] != 0 && second.totals[3] != 0;
#if defined(__CUDA_ARCH__)
  // A warp whose threads took both ways would run both: four counts only where all of it can.
  complete = __all_sync(__activemask(), complete);
#endif
  if (complete) {
    std::int32_t four[2][2] = {{0, 0}, {0, 0}};
    count_cells<2>(first.m, second.m, words, four);
    for (int x = 0; x < 2; ++x) {
      cells[x][0] = four[x][0];
      cells[x][1] = four[x][1];
      cells[x][2] = first.totals[x] - four[x][0] - four[x][1];
    }
    for (int y = 0; y < 2; ++y) cells[2][y] = second.totals[y] - four[0][y] - four[1][y];
    cells[2][2] = first.totals[2] - cells[2][0] - cells[2][1];
    return first.totals[0] + first.totals[1] + first.totals[2];
  }
  for (auto& row : cells)
    for (auto& cell : row) cell = 0;
  count_cells<3>(first.m, second.m, words, cells);
  for (const auto& row : cells)
    for (const std::int32_t cell : row) genotyped += cell;
  return genotyped;
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
  PairCells cells;
  cells.n_cases = count_set_cells(case0, case1, case_words, cells.cases);
  cells.n_controls = count_set_cells(control0, control1, control_words, cells.controls);
  return cells;
}

}  // namespace varpair
