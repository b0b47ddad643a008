// Batch planning of the LD driver: pure arithmetic, tested directly.
#pragma once

#include <algorithm>
#include <cstdint>

#include "device/runtime.h"

namespace varpair {

constexpr std::uint64_t ceil_div(std::uint64_t a, std::uint64_t b) { return (a + b - 1) / b; }

// Pairs per batch: the largest multiple of the block size whose device buffers (bytes_per_item a
// pair) fit into 70 % of the free device memory, capped so that a 32-bit thread position and record
// slot cannot overflow (below 2^31) and so that the host copy of one batch (host_bytes_per_item a
// pair) stays within a quarter of the memory the process may use.
inline std::uint64_t ld_batch_items(std::uint64_t free_bytes, std::uint64_t bytes_per_item,
                                    std::uint64_t host_bytes_per_item, std::uint64_t threads,
                                    std::uint64_t memory_bytes) {
  const auto budget = static_cast<std::uint64_t>(static_cast<double>(free_bytes) * 0.7);
  std::uint64_t items = budget / bytes_per_item;
  items = std::min(items, (std::uint64_t{1} << 31) - 1);
  items = std::min(items, memory_bytes / 4 / host_bytes_per_item);
  return items - items % threads;
}

struct LdBatch {
  std::uint64_t count;   // pairs in this batch
  std::uint64_t blocks;  // grid size of its launch
};

inline LdBatch ld_batch(std::uint64_t offset, std::uint64_t pairs, std::uint64_t batch_items, std::uint64_t threads) {
  LdBatch b{std::min(batch_items, pairs - offset), 0};
  b.blocks = ceil_div(b.count, threads);
  if (b.blocks > kMaxGrid) {
    b.blocks = kMaxGrid;
    b.count = threads * kMaxGrid;
  }
  return b;
}

}  // namespace varpair
