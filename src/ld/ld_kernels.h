// The LD kernels' interface: records, argument packs and the host functions of the device unit
// that set the sample-count constant of a measure and launch its kernels.
#pragma once

#include <cstdint>

#include "device/runtime.h"

namespace varpair {

// Bins of the distribution: 1000 of width 0.001 and one for 1.0 and above.
constexpr int kHistogramBins = 1001;

// One pair that passed the cut-off; the same 12 bytes on the device and the host.
struct ResultRecord {
  std::int32_t snp0_index;
  std::int32_t snp1_index;
  float value;
};
static_assert(sizeof(ResultRecord) == 12, "ResultRecord is 12 bytes on both sides");

// The arguments of compute_ld_kernel_r2 / compute_ld_kernel_dprime.
struct LdComputeArgs {
  const unsigned char* matrix0;
  const unsigned char* matrix1;
  int rows0;
  int rows1;
  float* results;
  unsigned long long offset;
  unsigned long long count;
  unsigned long long* histogram;  // 1001 counters, or null
  unsigned long long* missing;    // or null
  unsigned long long stride;
  float skip_below;    // > 0: pairs surely below this cut-off skip their estimate (text tables only)
  const int* totals0;  // the rows' totals (kLdTotalsPerRow each, ld_math.h)
  const int* totals1;
  int maximum_likelihood;  // -estimate ml (ld_ml.h) instead of the 20-round EM
};

// The arguments of filter_kernel_r2 / filter_kernel_dprime.
struct LdFilterArgs {
  const float* results;
  unsigned long long offset;
  int rows1;
  float cutoff;
  unsigned long long count;
  ResultRecord* records;
  int* record_count;
};

// One measure's constant and kernels. Launches report configuration errors through cudaGetLastError.
struct LdKernels {
  cudaError_t (*set_sample_count)(int samples);
  void (*launch_compute)(dim3 grid, dim3 block, cudaStream_t stream, const LdComputeArgs& args);
  void (*launch_filter)(dim3 grid, dim3 block, cudaStream_t stream, const LdFilterArgs& args);
};

extern const LdKernels kR2Kernels;
extern const LdKernels kDprimeKernels;

}  // namespace varpair
