// Device unit of interChromLDr2: its sample-count constant and kernels.
#include "ld/ld_units.h"

namespace {
__constant__ int d_df_COLS0;
}  // namespace

namespace varpair {

cudaError_t set_r2_sample_count(int samples) {
  return cudaMemcpyToSymbol(d_df_COLS0, &samples, sizeof(int), 0, cudaMemcpyHostToDevice);
}

}  // namespace varpair
