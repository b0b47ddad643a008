// Bit counting shared by the kernels of both backends.
#pragma once

#include <cstdint>

#include "device/runtime.h"

namespace varpair {

// Population count of a 64-bit word: the device's instruction, or the host's (x86-64-v2 has one).
__host__ __device__ __forceinline__ int popcount64(std::uint64_t x) {
#if defined(__CUDA_ARCH__)
  return __popcll(x);
#else
  return __builtin_popcountll(x);
#endif
}

// Index of the lowest set bit of a word that is not 0.
__host__ __device__ __forceinline__ int ctz64(std::uint64_t x) {
#if defined(__CUDA_ARCH__)
  return __ffsll(static_cast<long long>(x)) - 1;
#else
  return __builtin_ctzll(x);
#endif
}

}  // namespace varpair
