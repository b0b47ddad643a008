// Where the interaction models' per-pair tests meet the host's vector lanes (interaction/
// table_vector.cpp, on the target device/host_simd.h picks): the chi-square filter of a pair's
// tables. On the GPU, and where the vector paths are off, it passes every table and the portable
// test of each decides, with the same outcome either way. (MDR's one table stays in the portable
// loop: on AVX2, lanes that must first be loaded cost more than they save.)
#pragma once

#include <cstdint>

#include "device/runtime.h"
#if !defined(VARPAIR_CUDA)
#include "device/host_simd.h"
#endif

namespace varpair {

namespace table_vector {

// Bit t set for each of the first `tables` (at most 32) tables a = a[t], b = n_cases - a, c = c[t],
// d = n_controls - c that may reach `threshold` by the Yates chi-square of table_2x2.h: exactly those
// tested in lanes, and every table left over when too few remain to fill a vector's lanes.
std::uint32_t chi_square_candidates(const std::int32_t* a, const std::int32_t* c, int tables, std::int32_t n_cases,
                                    std::int32_t n_controls, float threshold);

}  // namespace table_vector

// Bit t set for each of the first `tables` tables that may reach the chi-square threshold (every
// one where the vector lanes do not run); the caller tests each table it gets.
__host__ __device__ __forceinline__ std::uint32_t chi_square_candidates(const std::int32_t* a, const std::int32_t* c,
                                                                        int tables, std::int32_t n_cases,
                                                                        std::int32_t n_controls, float threshold) {
#if !defined(VARPAIR_CUDA)
  if (host_simd::enabled()) return table_vector::chi_square_candidates(a, c, tables, n_cases, n_controls, threshold);
#endif
  (void)a, (void)c, (void)n_cases, (void)n_controls, (void)threshold;
  return tables >= 32 ? ~0u : (1u << tables) - 1;
}

}  // namespace varpair
