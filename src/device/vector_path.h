// The one place where kernels and per-pair loops meet the host backend's vector units (AVX-512,
// chosen at run time, see host_simd.h). Each hook does what part of the work it can and says how
// much; on the GPU, and on processors without the instructions, it does nothing and the portable
// code that follows it does all. Counts are integers, so either way gives the same numbers.
#pragma once

#include <cstdint>

#include "device/runtime.h"
#if !defined(VARPAIR_CUDA)
#include "device/host_simd.h"
#endif

namespace varpair::vector_path {

// Whether the host's vector paths run.
__host__ __device__ __forceinline__ bool enabled() {
#if defined(VARPAIR_CUDA)
  return false;
#else
  return host_simd::enabled();
#endif
}

// cells[x][y] = samples with code x in row0 and code y in row1 over a leading run of the samples;
// returns how many samples that run holds (a multiple of 256, or 0).
__host__ __device__ __forceinline__ int count_packed_cells(const unsigned char* row0, const unsigned char* row1,
                                                           int samples, std::int32_t (&cells)[3][3]) {
#if defined(VARPAIR_CUDA)
  (void)row0, (void)row1, (void)samples, (void)cells;
  return 0;
#else
  return host_simd::enabled() ? host_simd::count_packed_cells(row0, row1, samples, cells) : 0;
#endif
}

// cells[x][y] += popcount(first[x][w] & second[y][w]) over all `words` words; false when it did not run.
__host__ __device__ __forceinline__ bool count_cells3(const std::uint64_t* const* first,
                                                      const std::uint64_t* const* second, std::int32_t words,
                                                      std::int32_t (&cells)[3][3]) {
#if defined(VARPAIR_CUDA)
  (void)first, (void)second, (void)words, (void)cells;
  return false;
#else
  if (!host_simd::enabled()) return false;
  host_simd::count_cells3(first, second, words, cells);
  return true;
#endif
}

}  // namespace varpair::vector_path
