// Bodies of the LD kernels: map the thread to its pair and call the per-pair mathematics of
// ld_math.h.
#pragma once

#include "ld/ld_em_vector.h"
#include "ld/ld_kernels.h"
#include "ld/ld_math.h"
#include "ld/ld_ml.h"

namespace varpair {

// The thread's position in its batch, in 32-bit arithmetic (the driver caps batches to fit).
__device__ __forceinline__ unsigned int batch_position() { return blockIdx.x * blockDim.x + threadIdx.x; }

template <LdMeasure kMeasure>
__device__ __forceinline__ void compute_ld_body(const LdComputeArgs& a, int samples) {
  if (compute_ld_block_on_vector_path<kMeasure>(a, samples)) return;
  const unsigned int t = batch_position();
  if (t >= a.count) return;
  const unsigned long long g = a.offset + t;
  const unsigned long long width = static_cast<unsigned long long>(a.rows1);
  const HaplotypeCounts h =
      count_haplotypes(a.matrix0 + (g / width) * a.stride, a.matrix1 + (g % width) * a.stride, samples,
                       row_totals(a.totals0, g / width), row_totals(a.totals1, g % width));
  const float value = !has_ld_value(h)                             ? kNoLdValue
                      : ld_surely_below<kMeasure>(h, a.skip_below) ? kSkippedLdValue
                      : a.maximum_likelihood                       ? ld_measure_ml<kMeasure>(h)
                                                                   : ld_measure<kMeasure>(estimate_haplotypes(h));
  a.results[t] = value;
  count_ld_value(value, a.histogram, a.missing);
}

__device__ __forceinline__ void filter_ld_body(const LdFilterArgs& a) {
  const unsigned int t = batch_position();
  if (t >= a.count) return;
  const float value = a.results[t];
  if (!(value >= a.cutoff) || value == kNoLdValue) return;
  const unsigned long long g = a.offset + t;
  const unsigned long long width = static_cast<unsigned long long>(a.rows1);
  const int slot = atomicAdd(a.record_count, 1);
  a.records[slot] = ResultRecord{static_cast<std::int32_t>(g / width), static_cast<std::int32_t>(g % width), value};
}

}  // namespace varpair
