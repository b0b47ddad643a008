// The host device: one device whose memory is host memory under a budget, kernels on the worker
// pool, and the runtime's own error codes and texts.
#include <array>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <new>
#include <set>

#include "common/host_bytes.h"
#include "common/progress.h"
#include "common/system_info.h"
#include "common/worker_pool.h"
#include "device/host_testing.h"
#include "device/runtime.h"

thread_local uint3 threadIdx{0, 0, 0};
thread_local uint3 blockIdx{0, 0, 0};
thread_local dim3 blockDim{1, 1, 1};
thread_local dim3 gridDim{1, 1, 1};

struct CUstream_st {
  int unused = 0;
};

namespace {

using varpair::device::testing::Op;

constexpr std::size_t kAlignment = 256;  // what cudaMalloc guarantees
constexpr std::size_t kOpCount = static_cast<std::size_t>(Op::DeviceSynchronize) + 1;

struct Fault {
  cudaError_t error = cudaSuccess;
  int skip = 0;
  int count = 0;
};

struct Device {
  std::mutex mutex;
  std::size_t budget = varpair::device::testing::default_memory_budget();
  std::size_t used = 0;
  std::map<std::uintptr_t, std::size_t> allocations;  // start -> size
  std::set<CUstream_st*> streams;
  std::array<Fault, kOpCount> faults{};
};

Device& host_device() {
  static Device d;
  return d;
}

// Like the runtime, the last error is kept per host thread and cleared by cudaGetLastError.
thread_local cudaError_t last_error = cudaSuccess;

cudaError_t record(cudaError_t error) {
  if (error != cudaSuccess) last_error = error;
  return error;
}

// An injected failure for this call of `op`, or cudaSuccess.
cudaError_t injected(Op op) {
  Device& d = host_device();
  std::lock_guard<std::mutex> lock(d.mutex);
  Fault& f = d.faults[static_cast<std::size_t>(op)];
  if (f.count == 0) return cudaSuccess;
  if (f.skip > 0) {
    --f.skip;
    return cudaSuccess;
  }
  --f.count;
  return f.error;
}

// True when [p, p + count) lies inside one live allocation. Caller holds the device mutex.
bool inside_allocation(const Device& d, const void* p, std::size_t count) {
  const auto address = reinterpret_cast<std::uintptr_t>(p);
  auto it = d.allocations.upper_bound(address);
  if (it == d.allocations.begin()) return false;
  --it;
  return address - it->first <= it->second && count <= it->second - (address - it->first);
}

// Validates the device side(s) of a copy the way the runtime does: a pointer that is not device
// memory where device memory is required is an invalid argument.
cudaError_t check_copy(void* dst, const void* src, std::size_t count, cudaMemcpyKind kind) {
  if (count == 0) return cudaSuccess;
  if (dst == nullptr || src == nullptr) return cudaErrorInvalidValue;
  Device& d = host_device();
  std::lock_guard<std::mutex> lock(d.mutex);
  switch (kind) {
    case cudaMemcpyHostToHost:
    case cudaMemcpyDefault: return cudaSuccess;
    case cudaMemcpyHostToDevice: return inside_allocation(d, dst, count) ? cudaSuccess : cudaErrorInvalidValue;
    case cudaMemcpyDeviceToHost: return inside_allocation(d, src, count) ? cudaSuccess : cudaErrorInvalidValue;
    case cudaMemcpyDeviceToDevice:
      return inside_allocation(d, dst, count) && inside_allocation(d, src, count) ? cudaSuccess : cudaErrorInvalidValue;
  }
  return cudaErrorInvalidValue;
}

cudaError_t copy(Op op, void* dst, const void* src, std::size_t count, cudaMemcpyKind kind) {
  if (cudaError_t e = injected(op)) return record(e);
  if (cudaError_t e = check_copy(dst, src, count, kind)) return record(e);
  if (count > 0) std::memmove(dst, src, count);
  return cudaSuccess;
}

cudaError_t fill(Op op, void* ptr, int value, std::size_t count) {
  if (cudaError_t e = injected(op)) return record(e);
  if (count == 0) return cudaSuccess;
  Device& d = host_device();
  {
    std::lock_guard<std::mutex> lock(d.mutex);
    if (ptr == nullptr || !inside_allocation(d, ptr, count)) return record(cudaErrorInvalidValue);
  }
  std::memset(ptr, value, count);
  return cudaSuccess;
}

bool valid_stream(cudaStream_t stream) {
  if (stream == nullptr) return true;
  Device& d = host_device();
  std::lock_guard<std::mutex> lock(d.mutex);
  return d.streams.count(stream) != 0;
}

std::string host_device_name() {
  return "Host CPU (" + std::to_string(varpair::WorkerPool::shared().concurrency()) + " threads)";
}

}  // namespace

namespace varpair::device {

namespace testing {

// A quarter of physical memory, and no more than half of what the cgroup and the address-space
// limit leave this process: host copies of the tables and of one batch need the rest.
// Under AddressSanitizer every large block's shadow is written when it is mapped and when it is
// freed, a second a run for the gigabytes of a results buffer; the sanitized build plans within
// 512 MiB instead, which also takes its tests through more groups and batches.
std::size_t default_memory_budget() {
  const auto budget = static_cast<std::size_t>(std::min(physical_memory_bytes() / 4, memory_available_bytes() / 2));
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VARPAIR_ADDRESS_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(VARPAIR_ADDRESS_SANITIZER)
  return std::min(budget, std::size_t{512} << 20);
#else
  return budget;
#endif
}

void set_memory_budget(std::size_t bytes) {
  Device& d = host_device();
  std::lock_guard<std::mutex> lock(d.mutex);
  d.budget = bytes;
}

std::size_t bytes_in_use() {
  Device& d = host_device();
  std::lock_guard<std::mutex> lock(d.mutex);
  return d.used;
}

std::size_t live_allocations() {
  Device& d = host_device();
  std::lock_guard<std::mutex> lock(d.mutex);
  return d.allocations.size();
}

void fail_calls(Op op, cudaError_t error, int count, int skip) {
  Device& d = host_device();
  std::lock_guard<std::mutex> lock(d.mutex);
  d.faults[static_cast<std::size_t>(op)] = Fault{error, skip, count};
}

void reset() {
  Device& d = host_device();
  {
    std::lock_guard<std::mutex> lock(d.mutex);
    d.faults = {};
    d.budget = default_memory_budget();
  }
  last_error = cudaSuccess;
}

}  // namespace testing

namespace host {

cudaError_t copy_to_symbol(void* symbol, std::size_t symbol_size, const void* src, std::size_t count,
                           std::size_t offset, cudaMemcpyKind kind) {
  if (cudaError_t e = injected(Op::MemcpyToSymbol)) return record(e);
  if (kind != cudaMemcpyHostToDevice && kind != cudaMemcpyDefault) return record(cudaErrorInvalidValue);
  if (offset > symbol_size || count > symbol_size - offset) return record(cudaErrorInvalidValue);
  if (count > 0 && src == nullptr) return record(cudaErrorInvalidValue);
  if (count > 0) std::memcpy(static_cast<char*>(symbol) + offset, src, count);
  return cudaSuccess;
}

cudaError_t launch_grid(dim3 grid, dim3 block, cudaStream_t stream, BlockRunner run_block, const void* context) {
  if (cudaError_t e = injected(Op::Launch)) return record(e);
  const unsigned long long threads = 1ULL * block.x * block.y * block.z;
  const bool block_ok = block.x >= 1 && block.y >= 1 && block.z >= 1 && block.x <= 1024 && block.y <= 1024 &&
                        block.z <= 64 && threads <= 1024;
  // Our kernels use one-dimensional grids only; the stand-in runs nothing else.
  const bool grid_ok = grid.x >= 1 && grid.x <= 2147483647u && grid.y == 1 && grid.z == 1;
  if (!block_ok || !grid_ok) return record(cudaErrorInvalidConfiguration);
  if (!valid_stream(stream)) return record(cudaErrorInvalidResourceHandle);

  WorkerPool& pool = WorkerPool::shared();
  // A few tasks per worker balance uneven blocks without paying for a task per block.
  const unsigned long long blocks = grid.x;
  const unsigned long long tasks_wanted = 8ULL * pool.concurrency();
  const unsigned long long per_task = (blocks + tasks_wanted - 1) / tasks_wanted;
  const unsigned long long tasks = (blocks + per_task - 1) / per_task;
  std::atomic<unsigned long long> finished{0};
  varpair::Progress& progress = varpair::Progress::global();
  pool.run(tasks, [&](std::size_t task) {
    blockDim = block;
    gridDim = grid;
    const unsigned long long first = task * per_task;
    const unsigned long long end = first + per_task < blocks ? first + per_task : blocks;
    for (unsigned long long b = first; b < end; ++b) run_block(context, static_cast<unsigned int>(b));
    progress.blocks(finished.fetch_add(end - first) + (end - first), blocks);
  });
  return cudaSuccess;
}

}  // namespace host
}  // namespace varpair::device

cudaError_t cudaGetDeviceCount(int* count) {
  if (cudaError_t e = injected(Op::GetDeviceCount)) return record(e);
  if (count == nullptr) return record(cudaErrorInvalidValue);
  *count = 1;
  return cudaSuccess;
}

cudaError_t cudaSetDevice(int index) {
  if (cudaError_t e = injected(Op::SetDevice)) return record(e);
  return index == 0 ? cudaSuccess : record(cudaErrorInvalidDevice);
}

cudaError_t cudaGetDeviceProperties(cudaDeviceProp* prop, int index) {
  if (cudaError_t e = injected(Op::GetDeviceProperties)) return record(e);
  if (prop == nullptr) return record(cudaErrorInvalidValue);
  if (index != 0) return record(cudaErrorInvalidDevice);
  *prop = cudaDeviceProp{};
  std::snprintf(prop->name, sizeof prop->name, "%s", host_device_name().c_str());
  {
    Device& d = host_device();
    std::lock_guard<std::mutex> lock(d.mutex);
    prop->totalGlobalMem = d.budget;
  }
  prop->major = 0;
  prop->minor = 0;
  prop->maxThreadsPerBlock = 1024;
  prop->multiProcessorCount = static_cast<int>(varpair::WorkerPool::shared().concurrency());
  return cudaSuccess;
}

cudaError_t cudaMemGetInfo(std::size_t* free_bytes, std::size_t* total_bytes) {
  if (cudaError_t e = injected(Op::MemGetInfo)) return record(e);
  if (free_bytes == nullptr || total_bytes == nullptr) return record(cudaErrorInvalidValue);
  Device& d = host_device();
  std::lock_guard<std::mutex> lock(d.mutex);
  *total_bytes = d.budget;
  *free_bytes = d.used < d.budget ? d.budget - d.used : 0;
  return cudaSuccess;
}

cudaError_t cudaMalloc(void** ptr, std::size_t size) {
  if (cudaError_t e = injected(Op::Malloc)) return record(e);
  if (ptr == nullptr) return record(cudaErrorInvalidValue);
  *ptr = nullptr;
  if (size == 0) return cudaSuccess;
  Device& d = host_device();
  std::lock_guard<std::mutex> lock(d.mutex);
  const std::size_t free_bytes = d.used < d.budget ? d.budget - d.used : 0;
  if (size > free_bytes) return record(cudaErrorMemoryAllocation);
  void* p = varpair::allocate_large_block(size, kAlignment);
  if (p == nullptr) return record(cudaErrorMemoryAllocation);
  d.allocations.emplace(reinterpret_cast<std::uintptr_t>(p), size);
  d.used += size;
  *ptr = p;
  return cudaSuccess;
}

cudaError_t cudaFree(void* ptr) {
  if (ptr == nullptr) return cudaSuccess;
  Device& d = host_device();
  std::lock_guard<std::mutex> lock(d.mutex);
  auto it = d.allocations.find(reinterpret_cast<std::uintptr_t>(ptr));
  if (it == d.allocations.end()) return record(cudaErrorInvalidValue);
  d.used -= it->second;
  d.allocations.erase(it);
  std::free(ptr);
  return cudaSuccess;
}

cudaError_t cudaMemcpy(void* dst, const void* src, std::size_t count, cudaMemcpyKind kind) {
  return copy(Op::Memcpy, dst, src, count, kind);
}

cudaError_t cudaMemcpyAsync(void* dst, const void* src, std::size_t count, cudaMemcpyKind kind, cudaStream_t stream) {
  if (!valid_stream(stream)) return record(cudaErrorInvalidResourceHandle);
  return copy(Op::MemcpyAsync, dst, src, count, kind);
}

cudaError_t cudaMemset(void* ptr, int value, std::size_t count) { return fill(Op::Memset, ptr, value, count); }

cudaError_t cudaMemsetAsync(void* ptr, int value, std::size_t count, cudaStream_t stream) {
  if (!valid_stream(stream)) return record(cudaErrorInvalidResourceHandle);
  return fill(Op::MemsetAsync, ptr, value, count);
}

cudaError_t cudaStreamCreate(cudaStream_t* stream) {
  if (cudaError_t e = injected(Op::StreamCreate)) return record(e);
  if (stream == nullptr) return record(cudaErrorInvalidValue);
  auto* s = new (std::nothrow) CUstream_st;
  if (s == nullptr) return record(cudaErrorMemoryAllocation);
  Device& d = host_device();
  std::lock_guard<std::mutex> lock(d.mutex);
  d.streams.insert(s);
  *stream = s;
  return cudaSuccess;
}

// Work on the host device completes before its call returns, so synchronising only reports.
cudaError_t cudaStreamSynchronize(cudaStream_t stream) {
  if (cudaError_t e = injected(Op::StreamSynchronize)) return record(e);
  return valid_stream(stream) ? cudaSuccess : record(cudaErrorInvalidResourceHandle);
}

cudaError_t cudaStreamDestroy(cudaStream_t stream) {
  Device& d = host_device();
  std::lock_guard<std::mutex> lock(d.mutex);
  if (stream == nullptr || d.streams.erase(stream) == 0) return record(cudaErrorInvalidResourceHandle);
  delete stream;
  return cudaSuccess;
}

cudaError_t cudaGetLastError() {
  const cudaError_t e = last_error;
  last_error = cudaSuccess;
  return e;
}

const char* cudaGetErrorString(cudaError_t error) {
  switch (error) {
    case cudaSuccess: return "no error";
    case cudaErrorInvalidValue: return "invalid argument";
    case cudaErrorMemoryAllocation: return "out of memory";
    case cudaErrorInitializationError: return "initialization error";
    case cudaErrorInvalidConfiguration: return "invalid configuration argument";
    case cudaErrorInvalidSymbol: return "invalid device symbol";
    case cudaErrorNoDevice: return "no CUDA-capable device is detected";
    case cudaErrorInvalidDevice: return "invalid device ordinal";
    case cudaErrorInvalidResourceHandle: return "invalid resource handle";
    case cudaErrorNotReady: return "device not ready";
    case cudaErrorIllegalAddress: return "an illegal memory access was encountered";
    case cudaErrorLaunchOutOfResources: return "too many resources requested for launch";
    case cudaErrorLaunchFailure: return "unspecified launch failure";
    case cudaErrorUnknown: return "unknown error";
  }
  return "unrecognized error code";
}

cudaError_t cudaDeviceSynchronize() {
  if (cudaError_t e = injected(Op::DeviceSynchronize)) return record(e);
  return cudaSuccess;
}

// Like the runtime: every allocation and stream of the process is released.
cudaError_t cudaDeviceReset() {
  Device& d = host_device();
  std::lock_guard<std::mutex> lock(d.mutex);
  for (const auto& [address, size] : d.allocations) std::free(reinterpret_cast<void*>(address));
  d.allocations.clear();
  d.used = 0;
  for (CUstream_st* s : d.streams) delete s;
  d.streams.clear();
  last_error = cudaSuccess;
  return cudaSuccess;
}
