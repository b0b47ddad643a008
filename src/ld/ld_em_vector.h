// The host backend's vector path of the LD kernel: a block's pairs counted one after another and
// their EM estimates run side by side in vector lanes (maximum-likelihood estimates one by one, by
// the scalar code). The lanes run estimate_haplotypes' own functions (ld_math.h), so each pair gets
// the same value bit for bit. On the GPU the path does not exist.
#pragma once

#include "device/vector_path.h"
#include "ld/ld_kernels.h"
#include "ld/ld_math.h"
#include "ld/ld_ml.h"

namespace varpair {

// Counts the value into the histogram or the missing counter, when they are wanted.
__device__ __forceinline__ void count_ld_value(float value, unsigned long long* histogram,
                                               unsigned long long* missing) {
  if (histogram == nullptr || missing == nullptr) return;
  if (value == kNoLdValue)
    atomicAdd(missing, 1ULL);
  else
    atomicAdd(&histogram[histogram_bin(value)], 1ULL);
}

#if defined(VARPAIR_CUDA)

template <LdMeasure kMeasure>
__device__ __forceinline__ bool compute_ld_block_on_vector_path(const LdComputeArgs&, int) {
  return false;
}

#else

// out[k] = estimate_haplotypes(counts[k]) for k < n.
void estimate_haplotypes_many(const HaplotypeCounts* counts, int n, HaplotypeFrequencies* out);

// The threads of a block run one after another on one worker, so its first thread takes every pair
// of the block and the other threads have nothing left. False when the vector path is off.
template <LdMeasure kMeasure>
bool compute_ld_block_on_vector_path(const LdComputeArgs& a, int samples) {
  if (!host_simd::enabled()) return false;
  if (threadIdx.x != 0) return true;
  const unsigned int first = blockIdx.x * blockDim.x;
  if (first >= a.count) return true;
  const unsigned int n = static_cast<unsigned int>(a.count - first < blockDim.x ? a.count - first : blockDim.x);
  constexpr unsigned int kNoSlot = 1024;  // a block has at most 1024 threads
  constexpr unsigned int kSkipSlot = 1025;
  HaplotypeCounts counts[1024];
  HaplotypeFrequencies frequencies[1024];
  unsigned int slot_of[1024];
  const unsigned long long width = static_cast<unsigned long long>(a.rows1);
  int valued = 0;
  // Without branches on the outcome, which is as good as random: a mispredicted one would throw
  // away the next pairs' counting that the processor has begun while the bound is computed.
  for (unsigned int k = 0; k < n; ++k) {
    const unsigned long long g = a.offset + first + k;
    const HaplotypeCounts h =
        count_haplotypes(a.matrix0 + (g / width) * a.stride, a.matrix1 + (g % width) * a.stride, samples,
                         row_totals(a.totals0, g / width), row_totals(a.totals1, g % width));
    const bool valued_pair = has_ld_value(h);
    const bool skipped = valued_pair & ld_surely_below<kMeasure>(h, a.skip_below);
    const bool estimated = valued_pair & !skipped;
    counts[valued] = h;  // kept only when estimated
    slot_of[k] = estimated ? static_cast<unsigned int>(valued) : skipped ? kSkipSlot : kNoSlot;
    valued += estimated;
  }
  // The maximum-likelihood estimate is the scalar one pair by pair (ld_ml.h), the EM's in lanes.
  if (!a.maximum_likelihood) estimate_haplotypes_many(counts, valued, frequencies);
  for (unsigned int k = 0; k < n; ++k) {
    const float value = slot_of[k] == kNoSlot     ? kNoLdValue
                        : slot_of[k] == kSkipSlot ? kSkippedLdValue
                        : a.maximum_likelihood    ? ld_measure_ml<kMeasure>(counts[slot_of[k]])
                                                  : ld_measure<kMeasure>(frequencies[slot_of[k]]);
    a.results[first + k] = value;
    count_ld_value(value, a.histogram, a.missing);
  }
  return true;
}

#endif

}  // namespace varpair
