// Bodies of the LD kernels, shared by the two device units: map the thread to its pair and call
// the per-pair mathematics of ld_math.h.
#pragma once

#include "ld/ld_kernels.h"
#include "ld/ld_math.h"

namespace varpair {

// The thread's position in its batch, in 32-bit arithmetic (the driver caps batches to fit).
__device__ __forceinline__ unsigned int batch_position() { return blockIdx.x * blockDim.x + threadIdx.x; }

template <LdMeasure kMeasure>
__device__ __forceinline__ void compute_ld_body(const unsigned char* matrix0, const unsigned char* matrix1, int rows1,
                                                float* results, unsigned long long offset, unsigned long long count,
                                                unsigned long long* histogram, unsigned long long* missing,
                                                unsigned long long stride, int samples) {
  const unsigned int t = batch_position();
  if (t >= count) return;
  const unsigned long long g = offset + t;
  const unsigned long long width = static_cast<unsigned long long>(rows1);
  const unsigned long long i = g / width;
  const unsigned long long j = g % width;
  const float value = ld_value<kMeasure>(matrix0 + i * stride, matrix1 + j * stride, samples);
  results[t] = value;
  if (histogram != nullptr && missing != nullptr) {
    if (value == kNoLdValue)
      atomicAdd(missing, 1ULL);
    else
      atomicAdd(&histogram[histogram_bin(value)], 1ULL);
  }
}

__device__ __forceinline__ void filter_ld_body(const float* results, unsigned long long offset, int rows1, float cutoff,
                                               unsigned long long count, ResultRecord* records, int* record_count) {
  const unsigned int t = batch_position();
  if (t >= count) return;
  const float value = results[t];
  if (!(value >= cutoff) || value == kNoLdValue) return;
  const unsigned long long g = offset + t;
  const unsigned long long width = static_cast<unsigned long long>(rows1);
  const int slot = atomicAdd(record_count, 1);
  records[slot] = ResultRecord{static_cast<std::int32_t>(g / width), static_cast<std::int32_t>(g % width), value};
}

}  // namespace varpair
