#include "interaction/gpu_plan.h"

#include <cstdio>
#include <iostream>
#include <limits>

#include "device/runtime.h"

namespace varpair {

GpuSelection select_gpu(int index, RunLog& log, bool report_device) {
  int count = 0;
  if (cudaGetDeviceCount(&count) != cudaSuccess || count == 0) {
    log << "No CUDA-capable GPU found" << eol;
    return GpuSelection::kNoDevice;
  }
  log << "Found " << count << " CUDA-capable GPU(s)" << eol;
  if (const cudaError_t e = cudaSetDevice(index)) {
    log << "Failed to set GPU device " << index << ": " << cudaGetErrorString(e) << eol;
    return GpuSelection::kSetDeviceFailed;
  }
  if (report_device) {
    cudaDeviceProp prop{};
    cudaGetDeviceProperties(&prop, index);
    log << "Using GPU: " << prop.name << eol;
    log << "Compute capability: " << prop.major << "." << prop.minor << eol;
    log << "Global memory: " << static_cast<double>(prop.totalGlobalMem) / (1024.0 * 1024.0 * 1024.0) << " GB" << eol;
  }
  return GpuSelection::kSelected;
}

std::int32_t plan_groups(std::int32_t rows, std::int32_t case_words, std::int32_t control_words, std::uint64_t memory,
                         std::uint64_t& max_batch_items, RunLog* log, const PlanConstants& constants) {
  const double m = static_cast<double>(memory);
  const auto result_budget = static_cast<std::uint64_t>(m * 0.7);
  max_batch_items = result_budget / constants.bytes_per_item;
  const std::uint64_t group_budget = static_cast<std::uint64_t>(m * 0.8 - static_cast<double>(result_budget)) >> 1;
  const std::uint64_t row_bytes = 8ULL * static_cast<std::uint64_t>(constants.masks_per_row) *
                                  static_cast<std::uint64_t>(case_words + control_words);
  if (row_bytes == 0) return -1;
  const std::uint64_t rows_fitting = group_budget / row_bytes;
  if (rows_fitting == 0) return -1;
  const auto max_rows =
      static_cast<std::int32_t>(rows_fitting < static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())
                                    ? rows_fitting
                                    : std::numeric_limits<std::int32_t>::max());
  auto groups = static_cast<std::int32_t>(static_cast<std::uint64_t>(rows) * row_bytes / group_budget);
  if (groups < 2) groups = 2;
  std::int32_t size = (rows - 1 + groups) / groups;
  if (size < 100 && (!constants.lower_bound_only_above_100_rows || rows > 100)) {
    size = 100;
    groups = (rows + 99) / 100;
  }
  if (size > max_rows) {
    size = max_rows;
    groups = (rows - 1 + max_rows) / max_rows;
  }
  if (log != nullptr) {
    *log << "Group size: " << size << " rows" << eol;
    *log << "Number of groups: " << groups << eol;
    *log << "Max batch items: " << max_batch_items << eol;
  }
  return size;
}

}  // namespace varpair
