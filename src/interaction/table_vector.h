// Where the interaction models' per-pair tests meet the host's vector lanes (interaction/
// table_vector.cpp, on the target device/host_simd.h picks). Each hook does what part of the work it
// can and says how much; on the GPU, and where the vector paths are off, it does nothing and the
// portable code that follows it does all, with the same numbers either way.
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

// MDR's table {a, b, c, d} from a pair's nine case and nine control cells.
void mdr_risk_table(const std::int32_t* cases, const std::int32_t* controls, float ratio, std::int32_t (&table)[4]);

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

// MDR's risk table from a pair's nine case and nine control cells in lanes; false when it did not run.
__host__ __device__ __forceinline__ bool mdr_risk_table_in_lanes(const std::int32_t* cases,
                                                                 const std::int32_t* controls, float ratio,
                                                                 std::int32_t (&table)[4]) {
#if !defined(VARPAIR_CUDA)
  if (host_simd::enabled()) {
    table_vector::mdr_risk_table(cases, controls, ratio, table);
    return true;
  }
#endif
  (void)cases, (void)controls, (void)ratio, (void)table;
  return false;
}

}  // namespace varpair
