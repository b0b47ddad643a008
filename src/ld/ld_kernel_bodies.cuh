// Bodies of the LD kernels, shared by the two device units: map the thread to its pair and call
// the per-pair mathematics of ld_math.h.
#pragma once

#include "ld/ld_kernels.h"
#include "ld/ld_math.h"
#if !defined(VARPAIR_CUDA)
#include "ld/ld_em_vector.h"
#endif

namespace varpair {

// The thread's position in its batch, in 32-bit arithmetic (the driver caps batches to fit).
__device__ __forceinline__ unsigned int batch_position() { return blockIdx.x * blockDim.x + threadIdx.x; }

// Counts the value into the histogram or the missing counter, when they are wanted.
__device__ __forceinline__ void count_ld_value(float value, unsigned long long* histogram,
                                               unsigned long long* missing) {
  if (histogram == nullptr || missing == nullptr) return;
  if (value == kNoLdValue)
    atomicAdd(missing, 1ULL);
  else
    atomicAdd(&histogram[histogram_bin(value)], 1ULL);
}

#if !defined(VARPAIR_CUDA)
// Host backend with vector units: the threads of a block run one after another on one worker, so
// its first thread takes every pair of the block and runs their EM estimates side by side in vector
// lanes (the same operations lane by lane, so the same values); the other threads have nothing left.
template <LdMeasure kMeasure>
void compute_ld_block(const unsigned char* matrix0, const unsigned char* matrix1, int rows1, float* results,
                      unsigned long long offset, unsigned long long count, unsigned long long* histogram,
                      unsigned long long* missing, unsigned long long stride, int samples) {
  if (threadIdx.x != 0) return;
  const unsigned int first = blockIdx.x * blockDim.x;
  if (first >= count) return;
  const unsigned int n = static_cast<unsigned int>(count - first < blockDim.x ? count - first : blockDim.x);
  constexpr unsigned int kNoSlot = 1024;  // a block has at most 1024 threads
  HaplotypeCounts counts[1024];
  HaplotypeFrequencies frequencies[1024];
  unsigned int slot_of[1024];
  const unsigned long long width = static_cast<unsigned long long>(rows1);
  int valued = 0;
  for (unsigned int k = 0; k < n; ++k) {
    const unsigned long long g = offset + first + k;
    const HaplotypeCounts h = count_haplotypes(matrix0 + (g / width) * stride, matrix1 + (g % width) * stride, samples);
    slot_of[k] = has_ld_value(h) ? static_cast<unsigned int>(valued) : kNoSlot;
    if (has_ld_value(h)) counts[valued++] = h;
  }
  estimate_haplotypes_many(counts, valued, frequencies);
  for (unsigned int k = 0; k < n; ++k) {
    const float value = slot_of[k] == kNoSlot ? kNoLdValue : ld_measure<kMeasure>(frequencies[slot_of[k]]);
    results[first + k] = value;
    count_ld_value(value, histogram, missing);
  }
}
#endif

template <LdMeasure kMeasure>
__device__ __forceinline__ void compute_ld_body(const unsigned char* matrix0, const unsigned char* matrix1, int rows1,
                                                float* results, unsigned long long offset, unsigned long long count,
                                                unsigned long long* histogram, unsigned long long* missing,
                                                unsigned long long stride, int samples) {
#if !defined(VARPAIR_CUDA)
  if (vector_em_available()) {
    compute_ld_block<kMeasure>(matrix0, matrix1, rows1, results, offset, count, histogram, missing, stride, samples);
    return;
  }
#endif
  const unsigned int t = batch_position();
  if (t >= count) return;
  const unsigned long long g = offset + t;
  const unsigned long long width = static_cast<unsigned long long>(rows1);
  const float value = ld_value<kMeasure>(matrix0 + (g / width) * stride, matrix1 + (g % width) * stride, samples);
  results[t] = value;
  count_ld_value(value, histogram, missing);
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
