// The one header that device-using code includes. The CUDA build gets the real runtime; the host
// build gets our stand-in with the same names. VP_LAUNCH is the only way kernels are launched.
#pragma once

#if defined(VARPAIR_CUDA)
#include <cuda_runtime.h>
#define VP_LAUNCH(kernel, grid, block, stream, ...) kernel<<<(grid), (block), 0, (stream)>>>(__VA_ARGS__)
#else
#include "device/host_runtime.h"
#define VP_LAUNCH(kernel, grid, block, stream, ...) \
  ::varpair::device::host_launch(kernel, (grid), (block), (stream), __VA_ARGS__)
#endif

#include <cstdint>
#include <string>

namespace varpair {

// The largest grid of a one-dimensional launch, in blocks.
constexpr std::uint64_t kMaxGrid = 2147483647;

}  // namespace varpair

namespace varpair::device {

// "host CPU (N threads, TARGET)" (TARGET: the vector target, see host_simd.h) or "CUDA": the backend
// this binary was built for.
std::string backend_description();

// "host CPU" or "CUDA".
std::string backend_kind();

}  // namespace varpair::device
