#include "device/runtime.h"

#if !defined(VARPAIR_CUDA)
#include "common/worker_pool.h"
#include "device/host_simd.h"
#endif

namespace varpair::device {

std::string backend_description() {
#if defined(VARPAIR_CUDA)
  return "CUDA";
#else
  return "host CPU (" + std::to_string(WorkerPool::shared().concurrency()) + " threads, " + host_simd::target_name() +
         ")";
#endif
}

std::string backend_kind() {
#if defined(VARPAIR_CUDA)
  return "CUDA";
#else
  return "host CPU";
#endif
}

}  // namespace varpair::device
