// Device unit of interChromLDdprime: its sample-count constant and kernels.
#include "ld/ld_units.h"

namespace {
__constant__ int d_df_COLS1;
}  // namespace

namespace varpair {

cudaError_t set_dprime_sample_count(int samples) {
  return cudaMemcpyToSymbol(d_df_COLS1, &samples, sizeof(int), 0, cudaMemcpyHostToDevice);
}

}  // namespace varpair
