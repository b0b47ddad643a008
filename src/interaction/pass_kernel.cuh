// The thread loop shared by every interaction kernel: each thread takes four consecutive positions
// of its batch, maps each to its pair in closed form and evaluates the valid ones.
#pragma once

#include <cstdint>

#include "device/runtime.h"
#include "interaction/interaction_record.h"
#include "interaction/pair_index.h"

namespace varpair {

// evaluate(i, j, snp0, snp1): i and j index the SNPs in their groups' mask arrays.
template <bool kBetween, class Evaluate>
__device__ __forceinline__ void visit_thread_pairs(std::uint64_t batch_start, std::uint64_t batch_count,
                                                   std::int32_t size_a, std::int32_t size_b, std::int32_t start_a,
                                                   std::int32_t start_b, Evaluate&& evaluate) {
  const std::uint64_t t = static_cast<std::uint64_t>(blockIdx.x) * blockDim.x + threadIdx.x;
  const auto na = static_cast<std::uint64_t>(size_a);
  const auto nb = static_cast<std::uint64_t>(size_b);
  const std::uint64_t pairs = kBetween ? na * nb : na * (na - 1) / 2;
  for (std::uint64_t q = 0; q < 4; ++q) {
    const std::uint64_t position = 4 * t + q;
    if (position >= batch_count) continue;
    const std::uint64_t p = batch_start + position;
    if (p >= pairs) continue;
    if (kBetween) {
      const PairPosition pos = between_groups_pair(p, na, nb);
      const auto snp0 = static_cast<std::int32_t>(start_a + static_cast<std::int64_t>(pos.i));
      const auto snp1 = static_cast<std::int32_t>(start_b + static_cast<std::int64_t>(pos.j));
      if (static_cast<std::uint32_t>(snp0) >= static_cast<std::uint32_t>(snp1)) continue;
      evaluate(pos.i, pos.j, snp0, snp1);
    } else {
      const PairPosition pos = within_group_pair(p, na);
      if (pos.i >= pos.j) continue;
      evaluate(pos.i, pos.j, static_cast<std::int32_t>(start_a + static_cast<std::int64_t>(pos.i)),
               static_cast<std::int32_t>(start_a + static_cast<std::int64_t>(pos.j)));
    }
  }
}

// Appends a pair's m records with one atomic reservation of 11 m words.
__device__ __forceinline__ void append_records(const InteractionRecord* records, int m, InteractionRecord* results,
                                               unsigned long long* valid_count) {
  if (m == 0) return;
  const unsigned long long slot = atomicAdd(valid_count, static_cast<unsigned long long>(kWordsPerRecord * m));
  InteractionRecord* out = results + slot / kWordsPerRecord;
  for (int r = 0; r < m; ++r) out[r] = records[r];
}

}  // namespace varpair
