// Device unit of genotype_interaction: the nine-genotype model's constants and kernels.
#include "interaction/model_constants.h"
#include "interaction/pair_counts.h"
#include "interaction/pass_kernel.cuh"
#include "interaction/table_2x2.h"
#include "models/genotype_interaction.h"

namespace {
__constant__ unsigned int gi_d_df_COLS0;  // control samples (set, not read)
__constant__ unsigned int gi_d_df_COLS1;  // case samples (set, not read)
__constant__ float gi_d_chisq_threshold;
__constant__ float gi_d_or_threshold;
}  // namespace

namespace varpair {

namespace {

// The nine labels of one pair: label 3 g0 + g1 tests the cell (g0, g1) against every other cell of
// the samples genotyped at both SNPs.
__device__ __forceinline__ void evaluate_pair(const PairCells& cells, std::int32_t snp0, std::int32_t snp1,
                                              InteractionRecord* results, unsigned long long* valid_count) {
  const InteractionThresholds thresholds{gi_d_chisq_threshold, gi_d_or_threshold};
  InteractionRecord records[9];
  int m = 0;
  for (int label = 0; label < 9; ++label) {
    const std::int32_t a = cells.cases[label / 3][label % 3];
    const std::int32_t c = cells.controls[label / 3][label % 3];
    InteractionRecord& r = records[m];
    if (!test_table(a, cells.n_cases - a, c, cells.n_controls - c, thresholds, r)) continue;
    r.snp0 = snp0;
    r.snp1 = snp1;
    r.label = label;
    ++m;
  }
  append_records(records, m, results, valid_count);
}

}  // namespace

__global__ void gi_compute_chi_square_within_group_kernel(
    const std::uint64_t* case_mask0, const std::uint64_t* case_mask1, const std::uint64_t* case_mask2,
    const std::uint64_t* control_mask0, const std::uint64_t* control_mask1, const std::uint64_t* control_mask2,
    std::int32_t case_words, std::int32_t control_words, std::int32_t group_size, InteractionRecord* results,
    unsigned long long* valid_count, std::uint64_t batch_start, std::uint64_t batch_count, std::int32_t group_start) {
  const GroupClassMasks g{{case_mask0, case_mask1, case_mask2}, {control_mask0, control_mask1, control_mask2}};
  within_group_cells(g, case_words, control_words, group_size, batch_start, batch_count, group_start,
                     [&](const PairCells& cells, std::int32_t snp0, std::int32_t snp1) {
                       evaluate_pair(cells, snp0, snp1, results, valid_count);
                     });
}

__global__ void gi_compute_chi_square_between_groups_kernel(
    const std::uint64_t* case_a0, const std::uint64_t* case_a1, const std::uint64_t* case_a2,
    const std::uint64_t* control_a0, const std::uint64_t* control_a1, const std::uint64_t* control_a2,
    const std::uint64_t* case_b0, const std::uint64_t* case_b1, const std::uint64_t* case_b2,
    const std::uint64_t* control_b0, const std::uint64_t* control_b1, const std::uint64_t* control_b2,
    std::int32_t case_words, std::int32_t control_words, std::int32_t size_a, std::int32_t size_b,
    InteractionRecord* results, unsigned long long* valid_count, std::uint64_t batch_start, std::uint64_t batch_count,
    std::int32_t start_a, std::int32_t start_b) {
  const GroupClassMasks a{{case_a0, case_a1, case_a2}, {control_a0, control_a1, control_a2}};
  const GroupClassMasks b{{case_b0, case_b1, case_b2}, {control_b0, control_b1, control_b2}};
  between_groups_cells(a, b, case_words, control_words, size_a, size_b, batch_start, batch_count, start_a, start_b,
                       [&](const PairCells& cells, std::int32_t snp0, std::int32_t snp1) {
                         evaluate_pair(cells, snp0, snp1, results, valid_count);
                       });
}

namespace {

cudaError_t set_gi_constant(ModelConstant which, std::uint32_t bits) {
  return set_model_constant(which, bits, gi_d_df_COLS0, gi_d_df_COLS1, gi_d_chisq_threshold, gi_d_or_threshold);
}

void launch_gi_within(dim3 grid, dim3 block, const PassLaunch& l) {
  const GroupMasks& g = *l.a;
  VP_LAUNCH(gi_compute_chi_square_within_group_kernel, grid, block, nullptr, g.cases.get(0), g.cases.get(1),
            g.cases.get(2), g.controls.get(0), g.controls.get(1), g.controls.get(2), l.case_words, l.control_words,
            l.size_a, l.results, l.valid_count, l.batch_start, l.batch_count, l.start_a);
}

void launch_gi_between(dim3 grid, dim3 block, const PassLaunch& l) {
  const GroupMasks& a = *l.a;
  const GroupMasks& b = *l.b;
  VP_LAUNCH(gi_compute_chi_square_between_groups_kernel, grid, block, nullptr, a.cases.get(0), a.cases.get(1),
            a.cases.get(2), a.controls.get(0), a.controls.get(1), a.controls.get(2), b.cases.get(0), b.cases.get(1),
            b.cases.get(2), b.controls.get(0), b.controls.get(1), b.controls.get(2), l.case_words, l.control_words,
            l.size_a, l.size_b, l.results, l.valid_count, l.batch_start, l.batch_count, l.start_a, l.start_b);
}

}  // namespace

const char* genotype_label(std::int32_t label) {
  static const char* const kLabels[9] = {"AA*BB_vs_other", "AA*Bb_vs_other", "AA*bb_vs_other",
                                         "Aa*BB_vs_other", "Aa*Bb_vs_other", "Aa*bb_vs_other",
                                         "aa*BB_vs_other", "aa*Bb_vs_other", "aa*bb_vs_other"};
  return label >= 0 && label < 9 ? kLabels[label] : "unknown";
}

const InteractionModel& genotype_interaction_model() {
  static const InteractionModel model{
      kGenotypeInteraction,
      &build_genotype_masks,
      &upload_genotype_masks,
      9,
      PlanConstants{9 * sizeof(InteractionRecord), 3, false},
      /*report_device=*/true,
      /*input_errors_escape=*/false,
      "Error: Number of SNPs in control and case files must be the same!",
      "Kernel launch failed: ",
      "Genotype_Label\tSNP0\tSNP1\ta\tb\tc\td\tchi_square\tchi_pvalue\tOR\tOR_lower\tOR_upper",
      &genotype_label,
      "Nine-genotype interaction analysis completed successfully!",
      &report_between_done,
      &report_mask_words,
      &set_gi_constant,
      &launch_gi_within,
      &launch_gi_between,
  };
  return model;
}

}  // namespace varpair
