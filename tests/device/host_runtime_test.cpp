// The host device behaves like the runtime wherever the program can observe it.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "device/check.h"
#include "device/holders.h"
#include "device/host_testing.h"
#include "device/runtime.h"

namespace {

using varpair::device::testing::Op;
namespace testing_api = varpair::device::testing;

__global__ void record_positions(unsigned int* out, unsigned long long n) {
  const unsigned long long t = 1ULL * blockIdx.x * blockDim.x + threadIdx.x;
  if (t < n) out[t] = t + 1;
}

__global__ void count_everything(unsigned int* counter32, unsigned long long* counter64, int* signed_counter) {
  atomicAdd(counter32, 1u);
  atomicAdd(counter64, 3ULL);
  atomicAdd(signed_counter, -1);
}

__global__ void grid_shape(unsigned int* out) {
  if (blockIdx.x == 0 && threadIdx.x == 0) {
    out[0] = gridDim.x;
    out[1] = blockDim.x;
  }
}

__constant__ int constant_value;
__constant__ float constant_pair[2];

__global__ void read_constants(float* out) { out[0] = static_cast<float>(constant_value) + constant_pair[1]; }

class HostRuntime : public ::testing::Test {
 protected:
  testing_api::Scope scope;
};

TEST_F(HostRuntime, LaunchRunsEveryThreadOfEveryBlockOnce) {
  const unsigned long long n = 100000;
  varpair::device::DeviceBuffer buffer;
  ASSERT_EQ(buffer.allocate(n * sizeof(unsigned int)), cudaSuccess);
  ASSERT_EQ(cudaMemset(buffer.get(), 0, n * sizeof(unsigned int)), cudaSuccess);
  const unsigned threads = 96;
  VP_LAUNCH(record_positions, dim3((n + threads - 1) / threads), dim3(threads), nullptr, buffer.get<unsigned int>(), n);
  ASSERT_EQ(cudaGetLastError(), cudaSuccess);
  std::vector<unsigned int> host(n);
  ASSERT_EQ(cudaMemcpy(host.data(), buffer.get(), n * sizeof(unsigned int), cudaMemcpyDeviceToHost), cudaSuccess);
  for (unsigned long long i = 0; i < n; ++i) ASSERT_EQ(host[i], i + 1) << "position " << i;
}

TEST_F(HostRuntime, AtomicAddsFromAllBlocksAreExact) {
  varpair::device::DeviceBuffer counters;
  ASSERT_EQ(counters.allocate(32), cudaSuccess);
  ASSERT_EQ(cudaMemset(counters.get(), 0, 32), cudaSuccess);
  auto* c32 = counters.get<unsigned int>();
  auto* c64 = reinterpret_cast<unsigned long long*>(counters.get() + 8);
  auto* cs = reinterpret_cast<int*>(counters.get() + 16);
  VP_LAUNCH(count_everything, dim3(1000), dim3(250), nullptr, c32, c64, cs);
  ASSERT_EQ(cudaGetLastError(), cudaSuccess);
  EXPECT_EQ(*c32, 250000u);
  EXPECT_EQ(*c64, 750000ULL);
  EXPECT_EQ(*cs, -250000);
  EXPECT_EQ(__popcll(0xF0F0F0F0F0F0F0F0ULL), 32);
}

TEST_F(HostRuntime, KernelsSeeTheirGridAndBlockSizes) {
  varpair::device::DeviceBuffer out;
  ASSERT_EQ(out.allocate(8), cudaSuccess);
  VP_LAUNCH(grid_shape, dim3(7), dim3(33), nullptr, out.get<unsigned int>());
  EXPECT_EQ(out.get<unsigned int>()[0], 7u);
  EXPECT_EQ(out.get<unsigned int>()[1], 33u);
}

TEST_F(HostRuntime, BadLaunchConfigurationsAreReportedOnceByGetLastError) {
  varpair::device::DeviceBuffer out;
  ASSERT_EQ(out.allocate(8), cudaSuccess);
  for (dim3 block : {dim3(0), dim3(1025), dim3(512, 4)}) {
    VP_LAUNCH(grid_shape, dim3(1), block, nullptr, out.get<unsigned int>());
    EXPECT_EQ(cudaGetLastError(), cudaErrorInvalidConfiguration);
    EXPECT_EQ(cudaGetLastError(), cudaSuccess) << "reading the error clears it";
  }
  for (dim3 grid : {dim3(0), dim3(2147483648u)}) {
    VP_LAUNCH(grid_shape, grid, dim3(32), nullptr, out.get<unsigned int>());
    EXPECT_EQ(cudaGetLastError(), cudaErrorInvalidConfiguration);
  }
  EXPECT_STREQ(cudaGetErrorString(cudaErrorInvalidConfiguration), "invalid configuration argument");
}

TEST_F(HostRuntime, ConstantsAreSetThroughMemcpyToSymbol) {
  const int value = 41;
  const float pair[2] = {0.0f, 0.5f};
  ASSERT_EQ(cudaMemcpyToSymbol(constant_value, &value, sizeof value), cudaSuccess);
  ASSERT_EQ(cudaMemcpyToSymbol(constant_pair, &pair[1], sizeof(float), sizeof(float)), cudaSuccess);
  varpair::device::DeviceBuffer out;
  ASSERT_EQ(out.allocate(4), cudaSuccess);
  VP_LAUNCH(read_constants, dim3(1), dim3(1), nullptr, out.get<float>());
  EXPECT_EQ(out.get<float>()[0], 41.5f);
  EXPECT_EQ(cudaMemcpyToSymbol(constant_value, &value, 8), cudaErrorInvalidValue) << "past the symbol's end";
}

TEST_F(HostRuntime, MemoryBudgetBoundsAllocationsLikeDeviceMemory) {
  testing_api::set_memory_budget(1000);
  std::size_t free_bytes = 0, total_bytes = 0;
  ASSERT_EQ(cudaMemGetInfo(&free_bytes, &total_bytes), cudaSuccess);
  EXPECT_EQ(total_bytes, 1000u);
  EXPECT_EQ(free_bytes, 1000u);

  varpair::device::DeviceBuffer a, b;
  ASSERT_EQ(a.allocate(600), cudaSuccess);
  ASSERT_EQ(cudaMemGetInfo(&free_bytes, &total_bytes), cudaSuccess);
  EXPECT_EQ(free_bytes, 400u);
  EXPECT_EQ(b.allocate(401), cudaErrorMemoryAllocation);
  EXPECT_EQ(cudaGetLastError(), cudaErrorMemoryAllocation);
  EXPECT_STREQ(cudaGetErrorString(cudaErrorMemoryAllocation), "out of memory");
  ASSERT_EQ(b.allocate(400), cudaSuccess);
  a.release();
  b.release();
  EXPECT_EQ(testing_api::bytes_in_use(), 0u);
}

TEST_F(HostRuntime, CopiesOutsideAnAllocationAreInvalidArguments) {
  varpair::device::DeviceBuffer buffer;
  ASSERT_EQ(buffer.allocate(16), cudaSuccess);
  char host[32] = {};
  EXPECT_EQ(cudaMemcpy(buffer.get(), host, 16, cudaMemcpyHostToDevice), cudaSuccess);
  EXPECT_EQ(cudaMemcpy(buffer.get(), host, 17, cudaMemcpyHostToDevice), cudaErrorInvalidValue);
  EXPECT_EQ(cudaMemcpy(host, buffer.get() + 8, 9, cudaMemcpyDeviceToHost), cudaErrorInvalidValue);
  EXPECT_EQ(cudaMemcpy(host, host + 16, 8, cudaMemcpyDeviceToHost), cudaErrorInvalidValue) << "host memory";
  EXPECT_EQ(cudaMemset(buffer.get() + 4, 0, 13), cudaErrorInvalidValue);
  EXPECT_EQ(cudaFree(host), cudaErrorInvalidValue);
  EXPECT_STREQ(cudaGetErrorString(cudaErrorInvalidValue), "invalid argument");
}

TEST_F(HostRuntime, StreamsAreCheckedHandles) {
  cudaStream_t stream = nullptr;
  ASSERT_EQ(cudaStreamCreate(&stream), cudaSuccess);
  varpair::device::DeviceBuffer buffer;
  ASSERT_EQ(buffer.allocate(4), cudaSuccess);
  const int value = 7;
  EXPECT_EQ(cudaMemcpyAsync(buffer.get(), &value, 4, cudaMemcpyHostToDevice, stream), cudaSuccess);
  EXPECT_EQ(cudaStreamSynchronize(stream), cudaSuccess);
  EXPECT_EQ(cudaStreamDestroy(stream), cudaSuccess);
  EXPECT_EQ(cudaStreamSynchronize(stream), cudaErrorInvalidResourceHandle);
}

TEST_F(HostRuntime, InjectedFailuresHitTheChosenCallsOnly) {
  testing_api::fail_calls(Op::Malloc, cudaErrorMemoryAllocation, /*count=*/2, /*skip=*/1);
  varpair::device::DeviceBuffer a, b, c, d;
  EXPECT_EQ(a.allocate(8), cudaSuccess);
  EXPECT_EQ(b.allocate(8), cudaErrorMemoryAllocation);
  EXPECT_EQ(c.allocate(8), cudaErrorMemoryAllocation);
  EXPECT_EQ(d.allocate(8), cudaSuccess);

  testing_api::fail_calls(Op::Launch, cudaErrorLaunchOutOfResources);
  unsigned int out[2] = {0, 0};
  VP_LAUNCH(grid_shape, dim3(1), dim3(1), nullptr, out);
  EXPECT_EQ(cudaGetLastError(), cudaErrorLaunchOutOfResources);
  EXPECT_EQ(out[0], 0u) << "a refused launch runs nothing";

  testing_api::fail_calls(Op::GetDeviceCount, cudaErrorNoDevice);
  int count = -1;
  EXPECT_EQ(cudaGetDeviceCount(&count), cudaErrorNoDevice);
  EXPECT_EQ(cudaGetDeviceCount(&count), cudaSuccess);
  EXPECT_EQ(count, 1);
}

TEST_F(HostRuntime, DeviceSelectionAndPropertiesDescribeTheHost) {
  EXPECT_EQ(cudaSetDevice(0), cudaSuccess);
  EXPECT_EQ(cudaSetDevice(1), cudaErrorInvalidDevice);
  EXPECT_STREQ(cudaGetErrorString(cudaErrorInvalidDevice), "invalid device ordinal");
  cudaDeviceProp prop{};
  ASSERT_EQ(cudaGetDeviceProperties(&prop, 0), cudaSuccess);
  EXPECT_EQ(std::string(prop.name).rfind("Host CPU (", 0), 0u) << prop.name;
  EXPECT_EQ(varpair::device::backend_description().rfind("host CPU (", 0), 0u);
}

TEST_F(HostRuntime, CheckMacroThrowsWithPrefixAndRuntimeText) {
  try {
    VP_CUDA_CHECK(cudaSetDevice(5), "Failed to select: ");
    FAIL() << "no exception";
  } catch (const varpair::DeviceError& e) {
    EXPECT_STREQ(e.what(), "Failed to select: invalid device ordinal");
  }
  // One statement: safe as the body of an if without braces.
  bool reached_else = false;
  if (false)
    VP_CUDA_CHECK(cudaSetDevice(0), "unused");
  else
    reached_else = true;
  EXPECT_TRUE(reached_else);
}

TEST_F(HostRuntime, DeviceResetReleasesEverything) {
  void* p = nullptr;
  ASSERT_EQ(cudaMalloc(&p, 64), cudaSuccess);
  EXPECT_EQ(testing_api::live_allocations(), 1u);
  EXPECT_EQ(cudaDeviceReset(), cudaSuccess);
  EXPECT_EQ(testing_api::live_allocations(), 0u);
  EXPECT_EQ(testing_api::bytes_in_use(), 0u);
}

}  // namespace
