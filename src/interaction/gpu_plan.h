// GPU selection and the memory plan of the interaction commands: how many SNP rows one group holds
// and how many pairs one batch may hold.
#pragma once

#include <cstdint>

#include "common/run_log.h"

namespace varpair {

enum class GpuSelection { kSelected, kNoDevice, kSetDeviceFailed };

// Makes device `index` current and reports it: "Found N CUDA-capable GPU(s)", and with
// report_device the device's name, compute capability and memory. Without a device writes "No
// CUDA-capable GPU found"; a device the runtime refuses is reported too.
GpuSelection select_gpu(int index, RunLog& log, bool report_device);

// What the plan needs to know of a model.
struct PlanConstants {
  std::uint64_t bytes_per_item;  // result bytes one pair can produce
  int masks_per_row;             // masks per SNP and sample set
  bool lower_bound_only_above_100_rows;
};

// Group size in SNP rows (at least 100, when the memory allows) and, through max_batch_items, the
// pairs one batch may hold; -1 when `memory` cannot hold one SNP row per group. Reports "Group size:
// ", "Number of groups: " and "Max batch items: " when a log is given.
std::int32_t plan_groups(std::int32_t rows, std::int32_t case_words, std::int32_t control_words, std::uint64_t memory,
                         std::uint64_t& max_batch_items, RunLog* log, const PlanConstants& constants);

}  // namespace varpair
