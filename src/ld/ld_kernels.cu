// Device unit of the two LD commands: each measure's sample-count constant and its kernels, thin
// entry points over the shared bodies.
#include "ld/ld_kernel_bodies.cuh"

namespace {
__constant__ int d_df_COLS0;  // samples, for r2
__constant__ int d_df_COLS1;  // samples, for D'
}  // namespace

namespace varpair {

__global__ void compute_ld_kernel_r2(const LdComputeArgs args) { compute_ld_body<LdMeasure::kR2>(args, d_df_COLS0); }

__global__ void compute_ld_kernel_dprime(const LdComputeArgs args) {
  compute_ld_body<LdMeasure::kDprime>(args, d_df_COLS1);
}

__global__ void filter_kernel_r2(const LdFilterArgs args) { filter_ld_body(args); }

__global__ void filter_kernel_dprime(const LdFilterArgs args) { filter_ld_body(args); }

namespace {

template <const int& kSymbol>
cudaError_t set_sample_count(int samples) {
  return cudaMemcpyToSymbol(kSymbol, &samples, sizeof(int), 0, cudaMemcpyHostToDevice);
}

template <void (*kKernel)(LdComputeArgs)>
void launch_compute(dim3 grid, dim3 block, cudaStream_t stream, const LdComputeArgs& args) {
  VP_LAUNCH(kKernel, grid, block, stream, args);
}

template <void (*kKernel)(LdFilterArgs)>
void launch_filter(dim3 grid, dim3 block, cudaStream_t stream, const LdFilterArgs& args) {
  VP_LAUNCH(kKernel, grid, block, stream, args);
}

}  // namespace

const LdKernels kR2Kernels{&set_sample_count<d_df_COLS0>, &launch_compute<compute_ld_kernel_r2>,
                           &launch_filter<filter_kernel_r2>};
const LdKernels kDprimeKernels{&set_sample_count<d_df_COLS1>, &launch_compute<compute_ld_kernel_dprime>,
                               &launch_filter<filter_kernel_dprime>};

}  // namespace varpair
