// The two pass shapes shared by every interaction kernel. Each thread takes four consecutive
// positions of its batch, maps the first to its pair in closed form and steps to the next ones
// (the closed form's divisions cost more than a pair's counts; between groups it is taken again
// where a tile row ends), counts the pair's genotype cells
// and hands them to the model's evaluation, which fills up to Evaluation::kRecords records of its
// type Evaluation::Record (each begins with a RecordKey; the SNPs are filled in here):
//   int evaluation(const PairCells& cells, std::int32_t snp0, std::int32_t snp1, Record* out)
#pragma once

#include <cstdint>
#include <type_traits>

#include "device/runtime.h"
#include "interaction/interaction_model.h"
#include "interaction/pair_counts.h"
#include "interaction/pair_index.h"

namespace varpair {

// visit(i, j, snp0, snp1): i and j index the SNPs in their groups' mask arrays.
template <bool kBetween, class Visit>
__device__ __forceinline__ void visit_thread_pairs(const PassArgs& p, Visit&& visit) {
  const std::uint64_t t = static_cast<std::uint64_t>(blockIdx.x) * blockDim.x + threadIdx.x;
  const auto na = static_cast<std::uint64_t>(p.size_a);
  const auto nb = static_cast<std::uint64_t>(p.size_b);
  const std::uint64_t pairs = kBetween ? na * nb : na * (na - 1) / 2;
  PairPosition pos{0, 0};
  std::uint64_t row_end = 0;  // between groups: where the tile row of pos ends
  for (std::uint64_t q = 0; q < 4; ++q) {
    const std::uint64_t position = 4 * t + q;
    if (position >= p.batch_count) break;
    const std::uint64_t k = p.batch_start + position;
    if (k >= pairs) break;
    if (kBetween) {
      if (q == 0 || ++pos.j == row_end) pos = between_groups_pair(k, na, nb, row_end);
      const auto snp0 = static_cast<std::int32_t>(p.start_a + static_cast<std::int64_t>(pos.i));
      const auto snp1 = static_cast<std::int32_t>(p.start_b + static_cast<std::int64_t>(pos.j));
      if (static_cast<std::uint32_t>(snp0) >= static_cast<std::uint32_t>(snp1)) continue;
      visit(pos.i, pos.j, snp0, snp1);
    } else {
      pos = q == 0 ? within_group_pair(k, na) : next_within_group_pair(pos, na);
      if (pos.i >= pos.j) continue;
      visit(pos.i, pos.j, static_cast<std::int32_t>(p.start_a + static_cast<std::int64_t>(pos.i)),
            static_cast<std::int32_t>(p.start_a + static_cast<std::int64_t>(pos.j)));
    }
  }
}

// Appends a pair's m records with one atomic reservation of their words.
template <class Record>
__device__ __forceinline__ void append_records(const Record* records, int m, std::uint32_t* results,
                                               unsigned long long* valid_count) {
  static_assert(sizeof(Record) % 4 == 0 && alignof(Record) <= 4, "records are whole 32-bit words");
  constexpr unsigned long long kWords = sizeof(Record) / 4;
  if (m == 0) return;
  const unsigned long long slot = atomicAdd(valid_count, kWords * static_cast<unsigned long long>(m));
  Record* out = reinterpret_cast<Record*>(results + slot);
  for (int r = 0; r < m; ++r) out[r] = records[r];
}

// Whether a model's evaluation reads the pair's masks itself (Evaluation::kReadsMasks: a model whose
// per-sample values weigh the samples) rather than the counted cells of the case and control sets.
template <class Evaluation, class = void>
struct ReadsMasks : std::false_type {};
template <class Evaluation>
struct ReadsMasks<Evaluation, std::void_t<decltype(Evaluation::kReadsMasks)>>
    : std::bool_constant<Evaluation::kReadsMasks> {};

// Counts and evaluates every pair of the thread: within one group (kBetween false) or between the
// SNPs of group a and those of group b.
template <bool kBetween, class Evaluation>
__device__ __forceinline__ void run_pass(const PassArgs& p, const Evaluation& evaluation) {
  const GroupClassMasks& second = kBetween ? p.b : p.a;
  visit_thread_pairs<kBetween>(p, [&](std::uint64_t i, std::uint64_t j, std::int32_t snp0, std::int32_t snp1) {
    typename Evaluation::Record records[Evaluation::kRecords];
    int m = 0;
    if constexpr (ReadsMasks<Evaluation>::value) {
      m = evaluation(class_masks(p.a.cases, p.a.case_totals, i, p.case_words),
                     class_masks(second.cases, second.case_totals, j, p.case_words), p.case_words, snp0, snp1,
                     records);
    } else {
      const PairCells cells =
          count_pair_cells(class_masks(p.a.cases, p.a.case_totals, i, p.case_words),
                           class_masks(second.cases, second.case_totals, j, p.case_words),
                           class_masks(p.a.controls, p.a.control_totals, i, p.control_words),
                           class_masks(second.controls, second.control_totals, j, p.control_words), p.case_words,
                           p.control_words);
      m = evaluation(cells, snp0, snp1, records);
    }
    for (int r = 0; r < m; ++r) {
      records[r].snp0 = snp0;
      records[r].snp1 = snp1;
    }
    append_records(records, m, p.results, p.valid_count);
  });
}

// The host side of a unit's kernel: launch<kernel> has the signature the model table holds.
template <void (*kKernel)(PassArgs)>
void launch_pass(dim3 grid, dim3 block, const PassArgs& args) {
  VP_LAUNCH(kKernel, grid, block, nullptr, args);
}

// What a unit's model adds to its evaluation and kernels.
struct ModelParts {
  cudaError_t (*set_constant)(ModelConstant, std::uint32_t);
  std::unique_ptr<RecordTable> (*make_table)(const TableSetup&);
  ModelRunData (*run_data)(const RunShape&) = nullptr;
  std::span<const char* const> side_outputs = {};
  bool counts_per_snp = false;
};

// A unit's model: its evaluation's records, its constant setter, its two kernels and its table.
template <class Evaluation, void (*kWithin)(PassArgs), void (*kBetween)(PassArgs)>
const InteractionModel& model_of(const ModelParts& parts) {
  static const InteractionModel model{Evaluation::kRecords,
                                      sizeof(typename Evaluation::Record),
                                      parts.counts_per_snp,
                                      parts.set_constant,
                                      &launch_pass<kWithin>,
                                      &launch_pass<kBetween>,
                                      parts.make_table,
                                      parts.run_data,
                                      parts.side_outputs};
  return model;
}

}  // namespace varpair
