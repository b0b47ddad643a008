// The LD kernels' interface: records, argument packs and the host functions of the two device
// units that set their constant and launch their kernels.
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

// The ten arguments of compute_ld_kernel_r2 / compute_ld_kernel_dprime, in order.
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
};

// The seven arguments of filter_kernel_r2 / filter_kernel_dprime, in order.
struct LdFilterArgs {
  const float* results;
  unsigned long long offset;
  int rows1;
  float cutoff;
  unsigned long long count;
  ResultRecord* records;
  int* record_count;
};

// Host side of each device unit. Launches report configuration errors through cudaGetLastError.
cudaError_t set_r2_sample_count(int samples);
void launch_compute_ld_r2(dim3 grid, dim3 block, cudaStream_t stream, const LdComputeArgs& args);
void launch_filter_r2(dim3 grid, dim3 block, cudaStream_t stream, const LdFilterArgs& args);

cudaError_t set_dprime_sample_count(int samples);
void launch_compute_ld_dprime(dim3 grid, dim3 block, cudaStream_t stream, const LdComputeArgs& args);
void launch_filter_dprime(dim3 grid, dim3 block, cudaStream_t stream, const LdFilterArgs& args);

}  // namespace varpair
