// Test interface of the host device: the memory budget and injected failures, so that every
// failure path of the drivers can be exercised without a GPU. Not reachable from the command line.
#pragma once

#include <cstddef>

#include "device/runtime.h"

namespace varpair::device::testing {

enum class Op {
  GetDeviceCount,
  SetDevice,
  GetDeviceProperties,
  MemGetInfo,
  Malloc,
  Memcpy,
  MemcpyAsync,
  MemcpyToSymbol,
  Memset,
  MemsetAsync,
  StreamCreate,
  StreamSynchronize,
  Launch,  // the launch is refused and the error is reported through cudaGetLastError
  DeviceSynchronize,
};

// Device memory of the host device; the default is a quarter of the physical memory.
void set_memory_budget(std::size_t bytes);
std::size_t default_memory_budget();
std::size_t bytes_in_use();
std::size_t live_allocations();

// After `skip` successful calls of `op`, the next `count` calls fail with `error`.
void fail_calls(Op op, cudaError_t error, int count = 1, int skip = 0);

// Clears every injected failure and restores the default budget.
void reset();

// Restores a clean device when a test ends, even when it fails.
struct Scope {
  Scope() { reset(); }
  ~Scope() { reset(); }
  Scope(const Scope&) = delete;
  Scope& operator=(const Scope&) = delete;
};

}  // namespace varpair::device::testing
