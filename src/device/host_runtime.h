// Host stand-in for the part of the CUDA runtime that varpair uses. Same names, signatures and
// error codes as the real runtime, so that every .cu unit compiles unchanged against either.
// Kernels run on the worker pool: blocks are spread over the workers, the threads of one block
// run one after another (our kernels use no shared memory and no barriers, so this is exact).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <tuple>
#include <type_traits>
#include <utility>

// Device-code keywords: plain C++ on the host.
#define __global__
#define __device__
#define __host__
#define __constant__
#define __forceinline__ inline __attribute__((always_inline))

// Real values of the runtime's codes, so that logs and tests read the same on both backends.
enum cudaError_t : int {
  cudaSuccess = 0,
  cudaErrorInvalidValue = 1,
  cudaErrorMemoryAllocation = 2,
  cudaErrorInitializationError = 3,
  cudaErrorInvalidConfiguration = 9,
  cudaErrorInvalidSymbol = 13,
  cudaErrorNoDevice = 100,
  cudaErrorInvalidDevice = 101,
  cudaErrorInvalidResourceHandle = 400,
  cudaErrorNotReady = 600,
  cudaErrorIllegalAddress = 700,
  cudaErrorLaunchOutOfResources = 701,
  cudaErrorLaunchFailure = 719,
  cudaErrorUnknown = 999,
};

enum cudaMemcpyKind : int {
  cudaMemcpyHostToHost = 0,
  cudaMemcpyHostToDevice = 1,
  cudaMemcpyDeviceToHost = 2,
  cudaMemcpyDeviceToDevice = 3,
  cudaMemcpyDefault = 4,
};

struct CUstream_st;
using cudaStream_t = CUstream_st*;

struct uint3 {
  unsigned int x, y, z;
};

struct dim3 {
  unsigned int x, y, z;
  constexpr dim3(unsigned int vx = 1, unsigned int vy = 1, unsigned int vz = 1) : x(vx), y(vy), z(vz) {}
};

// The fields of the runtime's device properties that varpair reads.
struct cudaDeviceProp {
  char name[256];
  std::size_t totalGlobalMem;
  int major;
  int minor;
  int maxThreadsPerBlock;
  int multiProcessorCount;
};

// Built-in coordinates of the calling "device thread"; each worker has its own.
extern thread_local uint3 threadIdx;
extern thread_local uint3 blockIdx;
extern thread_local dim3 blockDim;
extern thread_local dim3 gridDim;

cudaError_t cudaGetDeviceCount(int* count);
cudaError_t cudaSetDevice(int device);
cudaError_t cudaGetDeviceProperties(cudaDeviceProp* prop, int device);
cudaError_t cudaMemGetInfo(std::size_t* free_bytes, std::size_t* total_bytes);
cudaError_t cudaMalloc(void** ptr, std::size_t size);
cudaError_t cudaFree(void* ptr);
cudaError_t cudaMemcpy(void* dst, const void* src, std::size_t count, cudaMemcpyKind kind);
cudaError_t cudaMemcpyAsync(void* dst, const void* src, std::size_t count, cudaMemcpyKind kind,
                            cudaStream_t stream = nullptr);
cudaError_t cudaMemset(void* ptr, int value, std::size_t count);
cudaError_t cudaMemsetAsync(void* ptr, int value, std::size_t count, cudaStream_t stream = nullptr);
cudaError_t cudaStreamCreate(cudaStream_t* stream);
cudaError_t cudaStreamSynchronize(cudaStream_t stream);
cudaError_t cudaStreamDestroy(cudaStream_t stream);
cudaError_t cudaGetLastError();
const char* cudaGetErrorString(cudaError_t error);
cudaError_t cudaDeviceSynchronize();
cudaError_t cudaDeviceReset();

template <class T>
cudaError_t cudaMalloc(T** ptr, std::size_t size) {
  return cudaMalloc(reinterpret_cast<void**>(ptr), size);
}

namespace varpair::device::host {

// Copies into a __constant__ symbol, which on the host is an ordinary object of `symbol_size` bytes.
cudaError_t copy_to_symbol(void* symbol, std::size_t symbol_size, const void* src, std::size_t count,
                           std::size_t offset, cudaMemcpyKind kind);

// Checks a launch configuration; on success runs `run_block(block_index)` for every block on the
// worker pool, with the built-ins set, and returns cudaSuccess. Records failures as the last error.
using BlockRunner = void (*)(const void* context, unsigned int block);
cudaError_t launch_grid(dim3 grid, dim3 block, cudaStream_t stream, BlockRunner run_block, const void* context);

template <class Kernel, class Args>
struct LaunchContext {
  Kernel kernel;
  Args args;
};

template <class Context>
void run_one_block(const void* opaque, unsigned int block) {
  const auto& ctx = *static_cast<const Context*>(opaque);
  blockIdx = uint3{block, 0, 0};
  const unsigned int threads = blockDim.x * blockDim.y * blockDim.z;
  for (unsigned int t = 0; t < threads; ++t) {
    threadIdx = uint3{t % blockDim.x, (t / blockDim.x) % blockDim.y, t / (blockDim.x * blockDim.y)};
    std::apply(ctx.kernel, ctx.args);
  }
}

}  // namespace varpair::device::host

namespace varpair::device {

// The one launch helper: the host counterpart of kernel<<<grid, block, 0, stream>>>(args...).
// Like a real launch it returns nothing; a bad configuration is reported by cudaGetLastError.
template <class... Params, class... Args>
void host_launch(void (*kernel)(Params...), dim3 grid, dim3 block, cudaStream_t stream, Args&&... args) {
  using Context = host::LaunchContext<void (*)(Params...), std::tuple<Params...>>;
  const Context context{kernel, std::tuple<Params...>(std::forward<Args>(args)...)};
  host::launch_grid(grid, block, stream, &host::run_one_block<Context>, &context);
}

}  // namespace varpair::device

template <class T>
cudaError_t cudaMemcpyToSymbol(const T& symbol, const void* src, std::size_t count, std::size_t offset = 0,
                               cudaMemcpyKind kind = cudaMemcpyHostToDevice) {
  return varpair::device::host::copy_to_symbol(const_cast<std::remove_const_t<T>*>(&symbol), sizeof(T), src, count,
                                               offset, kind);
}

// Device-side intrinsics used by our kernels.
__forceinline__ int __popcll(unsigned long long x) { return __builtin_popcountll(x); }

template <class T>
__forceinline__ T host_atomic_add(T* address, T value) {
  return std::atomic_ref<T>(*address).fetch_add(value, std::memory_order_relaxed);
}
__forceinline__ int atomicAdd(int* address, int value) { return host_atomic_add(address, value); }
__forceinline__ unsigned int atomicAdd(unsigned int* address, unsigned int value) {
  return host_atomic_add(address, value);
}
__forceinline__ unsigned long long atomicAdd(unsigned long long* address, unsigned long long value) {
  return host_atomic_add(address, value);
}
__forceinline__ float atomicAdd(float* address, float value) { return host_atomic_add(address, value); }
