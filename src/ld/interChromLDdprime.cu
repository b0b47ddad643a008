// Device unit of interChromLDdprime: its sample-count constant and kernels.
#include "ld/ld_kernel_bodies.cuh"

namespace {
__constant__ int d_df_COLS1;
}  // namespace

namespace varpair {

__global__ void compute_ld_kernel_dprime(const unsigned char* matrix0, const unsigned char* matrix1, int rows0,
                                         int rows1, float* results, unsigned long long offset, unsigned long long count,
                                         unsigned long long* histogram, unsigned long long* missing,
                                         unsigned long long stride) {
  (void)rows0;
  compute_ld_body<LdMeasure::kDprime>(matrix0, matrix1, rows1, results, offset, count, histogram, missing, stride,
                                      d_df_COLS1);
}

__global__ void filter_kernel_dprime(const float* results, unsigned long long offset, int rows1, float cutoff,
                                     unsigned long long count, ResultRecord* records, int* record_count) {
  filter_ld_body(results, offset, rows1, cutoff, count, records, record_count);
}

cudaError_t set_dprime_sample_count(int samples) {
  return cudaMemcpyToSymbol(d_df_COLS1, &samples, sizeof(int), 0, cudaMemcpyHostToDevice);
}

void launch_compute_ld_dprime(dim3 grid, dim3 block, cudaStream_t stream, const LdComputeArgs& a) {
  VP_LAUNCH(compute_ld_kernel_dprime, grid, block, stream, a.matrix0, a.matrix1, a.rows0, a.rows1, a.results, a.offset,
            a.count, a.histogram, a.missing, a.stride);
}

void launch_filter_dprime(dim3 grid, dim3 block, cudaStream_t stream, const LdFilterArgs& a) {
  VP_LAUNCH(filter_kernel_dprime, grid, block, stream, a.results, a.offset, a.rows1, a.cutoff, a.count, a.records,
            a.record_count);
}

}  // namespace varpair
