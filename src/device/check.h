// Checked runtime calls: VP_CUDA_CHECK(call, "Prefix: ") throws DeviceError with the prefix and the
// runtime's error text when the call fails. Expands to one statement that is safe in if/else.
#pragma once

#include <string>

#include "common/errors.h"
#include "device/runtime.h"

namespace varpair::device {

[[noreturn]] inline void throw_device_error(const std::string& prefix, cudaError_t error) {
  throw DeviceError(prefix + cudaGetErrorString(error));
}

}  // namespace varpair::device

#define VP_CUDA_CHECK(call, prefix)                                                                       \
  do {                                                                                                    \
    const cudaError_t vp_check_error_ = (call);                                                           \
    if (vp_check_error_ != cudaSuccess) ::varpair::device::throw_device_error((prefix), vp_check_error_); \
  } while (0)
