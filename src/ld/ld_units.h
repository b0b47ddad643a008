// Host entry points of the two LD device units. Each unit owns its kernels and its sample-count
// constant (a __constant__ symbol is visible only inside its own unit), so drivers go through these.
#pragma once

#include "device/runtime.h"

namespace varpair {

// Sets d_df_COLS0, the sample count read by the r2 kernels.
cudaError_t set_r2_sample_count(int samples);

// Sets d_df_COLS1, the sample count read by the D' kernels.
cudaError_t set_dprime_sample_count(int samples);

}  // namespace varpair
