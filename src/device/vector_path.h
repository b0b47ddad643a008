// Where the counting loops of the kernels meet the host backend's vector units (the target
// host_simd.h picks at run time). Each hook does what part of the work it can and says how
// much; on the GPU, and where the vector paths are off, it does nothing and the portable code that
// follows it does all. Counts are integers, so either way gives the same numbers.
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
// returns how many samples that run holds (all of them on the host's vector path, else 0).
__host__ __device__ __forceinline__ int count_packed_cells(const unsigned char* row0, const unsigned char* row1,
                                                           int samples, std::int32_t (&cells)[3][3]) {
#if defined(VARPAIR_CUDA)
  (void)row0, (void)row1, (void)samples, (void)cells;
  return 0;
#else
  return host_simd::enabled() ? host_simd::count_packed_cells(row0, row1, samples, cells) : 0;
#endif
}

// Over a leading run of the samples of two rows of codes: c00, c01 + c10 and c11 (code 0 at both,
// code 0 at one and 1 at the other, code 1 at both); returns how many samples that run holds (all
// of them on the host's vector path, else 0).
__host__ __device__ __forceinline__ int count_packed_phase(const unsigned char* row0, const unsigned char* row1,
                                                           int samples, std::int32_t& both_a, std::int32_t& one_a,
                                                           std::int32_t& both_het) {
#if defined(VARPAIR_CUDA)
  (void)row0, (void)row1, (void)samples, (void)both_a, (void)one_a, (void)both_het;
  return 0;
#else
  return host_simd::enabled() ? host_simd::count_packed_phase(row0, row1, samples, both_a, one_a, both_het) : 0;
#endif
}

// One sample set's nine cells of a pair and their sum (host_simd::count_set_cells); false when it
// did not run.
__host__ __device__ __forceinline__ bool count_set_cells(const std::uint64_t* const* first,
                                                         const std::uint64_t* const* second, std::int32_t words,
                                                         const std::int32_t* first_totals,
                                                         const std::int32_t* second_totals, std::int32_t (&cells)[3][3],
                                                         std::int32_t& genotyped) {
#if defined(VARPAIR_CUDA)
  (void)first, (void)second, (void)words, (void)first_totals, (void)second_totals, (void)cells, (void)genotyped;
  return false;
#else
  if (!host_simd::enabled()) return false;
  genotyped = host_simd::count_set_cells(first, second, words, first_totals, second_totals, cells);
  return true;
#endif
}

}  // namespace varpair::vector_path
