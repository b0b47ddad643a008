// The thread loop shared by every interaction kernel: each thread takes four consecutive positions
// of its batch, maps each to its pair in closed form and evaluates the valid ones.
#pragma once

#include <cstdint>

#include "device/runtime.h"
#include "interaction/interaction_record.h"
#include "interaction/pair_counts.h"
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

// The genotype-class masks (classes 0, 1, 2) of one group for cases and controls.
struct GroupClassMasks {
  const std::uint64_t* cases[3];
  const std::uint64_t* controls[3];
};

// Counts the cells of every pair of the thread within one group and hands them to
// evaluate(cells, snp0, snp1).
template <class Evaluate>
__device__ __forceinline__ void within_group_cells(const GroupClassMasks& g, std::int32_t case_words,
                                                   std::int32_t control_words, std::int32_t group_size,
                                                   std::uint64_t batch_start, std::uint64_t batch_count,
                                                   std::int32_t group_start, Evaluate&& evaluate) {
  visit_thread_pairs<false>(
      batch_start, batch_count, group_size, group_size, group_start, group_start,
      [&](std::uint64_t i, std::uint64_t j, std::int32_t snp0, std::int32_t snp1) {
        evaluate(count_pair_cells(class_masks(g.cases[0], g.cases[1], g.cases[2], i, case_words),
                                  class_masks(g.cases[0], g.cases[1], g.cases[2], j, case_words),
                                  class_masks(g.controls[0], g.controls[1], g.controls[2], i, control_words),
                                  class_masks(g.controls[0], g.controls[1], g.controls[2], j, control_words),
                                  case_words, control_words),
                 snp0, snp1);
      });
}

// The same for the pairs of an SNP of group a and an SNP of group b.
template <class Evaluate>
__device__ __forceinline__ void between_groups_cells(const GroupClassMasks& a, const GroupClassMasks& b,
                                                     std::int32_t case_words, std::int32_t control_words,
                                                     std::int32_t size_a, std::int32_t size_b,
                                                     std::uint64_t batch_start, std::uint64_t batch_count,
                                                     std::int32_t start_a, std::int32_t start_b, Evaluate&& evaluate) {
  visit_thread_pairs<true>(
      batch_start, batch_count, size_a, size_b, start_a, start_b,
      [&](std::uint64_t i, std::uint64_t j, std::int32_t snp0, std::int32_t snp1) {
        evaluate(count_pair_cells(class_masks(a.cases[0], a.cases[1], a.cases[2], i, case_words),
                                  class_masks(b.cases[0], b.cases[1], b.cases[2], j, case_words),
                                  class_masks(a.controls[0], a.controls[1], a.controls[2], i, control_words),
                                  class_masks(b.controls[0], b.controls[1], b.controls[2], j, control_words),
                                  case_words, control_words),
                 snp0, snp1);
      });
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
