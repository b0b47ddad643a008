// The one place where kernels and per-pair loops meet the host backend's vector units (AVX-512,
// chosen at run time, see host_simd.h). Each hook does what part of the work it can and says how
// much; on the GPU, and on processors without the instructions, it does nothing and the portable
// code that follows it does all. Counts are integers, and the float and double work repeats the
// portable code's operations lane by lane, so either way gives the same numbers.
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

// Bit t set for each of the first `tables` 2x2 tables (a[t], n_cases - a[t], c[t], n_controls - c[t])
// that may reach the chi-square threshold: on the host's vector path exactly those of the first
// eight, and every later one (one lane more costs more than the scalar test); all of them where it
// does not run. The caller tests each table it gets.
__host__ __device__ __forceinline__ std::uint32_t chi_square_candidates(const std::int32_t* a, const std::int32_t* c,
                                                                        int tables, std::int32_t n_cases,
                                                                        std::int32_t n_controls, float threshold) {
  const std::uint32_t all = tables >= 32 ? ~0u : (1u << tables) - 1;
#if !defined(VARPAIR_CUDA)
  if (host_simd::enabled())
    return host_simd::chi_square_reaching(a, c, tables < 8 ? tables : 8, n_cases, n_controls, threshold) |
           (all & ~0xFFu);
#endif
  (void)a, (void)c, (void)n_cases, (void)n_controls, (void)threshold;
  return all;
}

// MDR's risk table {a, b, c, d} from a pair's nine case and nine control cells; false when it did
// not run.
__host__ __device__ __forceinline__ bool mdr_risk_table(const std::int32_t* cases, const std::int32_t* controls,
                                                        float ratio, std::int32_t (&table)[4]) {
#if defined(VARPAIR_CUDA)
  (void)cases, (void)controls, (void)ratio, (void)table;
  return false;
#else
  if (!host_simd::enabled()) return false;
  host_simd::mdr_risk_table(cases, controls, ratio, table);
  return true;
#endif
}

}  // namespace varpair::vector_path
