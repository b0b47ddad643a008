// Counting the genotype combinations of two SNPs from their masks, shared by the interaction
// kernels: cell (x, y) = sum over words of popcount(mask_x(SNP0) AND mask_y(SNP1)).
#pragma once

#include <cstdint>

#include "device/runtime.h"

namespace varpair {

__host__ __device__ __forceinline__ int popcount_word(std::uint64_t x) {
#if defined(__CUDA_ARCH__)
  return __popcll(x);
#else
  return __builtin_popcountll(x);
#endif
}

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
      for (int j = 0; j < kKinds; ++j) cells[i][j] += popcount_word(x[i] & y[j]);
  }
}

}  // namespace varpair
