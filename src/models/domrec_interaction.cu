// Device unit of domrec_interaction: the dominant-recessive models' constants and kernels.
#include "interaction/model_constants.h"
#include "interaction/pair_counts.h"
#include "interaction/pass_kernel.cuh"
#include "interaction/table_2x2.h"
#include "models/domrec_interaction.h"
#include "models/model_tables.h"

namespace {
__constant__ float dr_d_chisq_threshold;
__constant__ float dr_d_or_threshold;
__constant__ unsigned int dr_d_df_COLS0;  // control samples (set, not read)
__constant__ unsigned int dr_d_df_COLS1;  // case samples (set, not read)
}  // namespace

namespace varpair {

namespace {

__device__ __forceinline__ void evaluate_pair(const PairCells& cells, std::int32_t snp0, std::int32_t snp1,
                                              InteractionRecord* results, unsigned long long* valid_count) {
  const InteractionThresholds thresholds{dr_d_chisq_threshold, dr_d_or_threshold};
  InteractionRecord records[4];
  int m = 0;
  for (int model = 0; model < 4; ++model) {
    const Table2x2 t = domrec_table(cells, model);
    InteractionRecord& r = records[m];
    if (!test_table(t.a, t.b, t.c, t.d, thresholds, r)) continue;
    r.snp0 = snp0;
    r.snp1 = snp1;
    r.label = model;
    ++m;
  }
  append_records(records, m, results, valid_count);
}

}  // namespace

// Genotype classes 0, 1, 2 come from the recessive, AB and BB masks; the dominant masks are not read.
__global__ void dr_compute_chi_square_within_group_kernel(
    const std::uint64_t* case_dominant, const std::uint64_t* case_recessive, const std::uint64_t* case_ab,
    const std::uint64_t* case_bb, const std::uint64_t* control_dominant, const std::uint64_t* control_recessive,
    const std::uint64_t* control_ab, const std::uint64_t* control_bb, std::int32_t case_words,
    std::int32_t control_words, std::int32_t group_size, InteractionRecord* results, unsigned long long* valid_count,
    std::uint64_t batch_start, std::uint64_t batch_count, std::int32_t group_start) {
  (void)case_dominant;
  (void)control_dominant;
  const GroupClassMasks g{{case_recessive, case_ab, case_bb}, {control_recessive, control_ab, control_bb}};
  within_group_cells(g, case_words, control_words, group_size, batch_start, batch_count, group_start,
                     [&](const PairCells& cells, std::int32_t snp0, std::int32_t snp1) {
                       evaluate_pair(cells, snp0, snp1, results, valid_count);
                     });
}

__global__ void dr_compute_chi_square_between_groups_kernel(
    const std::uint64_t* case_dominant_a, const std::uint64_t* case_recessive_a, const std::uint64_t* case_ab_a,
    const std::uint64_t* case_bb_a, const std::uint64_t* control_dominant_a, const std::uint64_t* control_recessive_a,
    const std::uint64_t* control_ab_a, const std::uint64_t* control_bb_a, const std::uint64_t* case_dominant_b,
    const std::uint64_t* case_recessive_b, const std::uint64_t* case_ab_b, const std::uint64_t* case_bb_b,
    const std::uint64_t* control_dominant_b, const std::uint64_t* control_recessive_b,
    const std::uint64_t* control_ab_b, const std::uint64_t* control_bb_b, std::int32_t case_words,
    std::int32_t control_words, std::int32_t size_a, std::int32_t size_b, InteractionRecord* results,
    unsigned long long* valid_count, std::uint64_t batch_start, std::uint64_t batch_count, std::int32_t start_a,
    std::int32_t start_b) {
  (void)case_dominant_a;
  (void)control_dominant_a;
  (void)case_dominant_b;
  (void)control_dominant_b;
  const GroupClassMasks a{{case_recessive_a, case_ab_a, case_bb_a}, {control_recessive_a, control_ab_a, control_bb_a}};
  const GroupClassMasks b{{case_recessive_b, case_ab_b, case_bb_b}, {control_recessive_b, control_ab_b, control_bb_b}};
  between_groups_cells(a, b, case_words, control_words, size_a, size_b, batch_start, batch_count, start_a, start_b,
                       [&](const PairCells& cells, std::int32_t snp0, std::int32_t snp1) {
                         evaluate_pair(cells, snp0, snp1, results, valid_count);
                       });
}

namespace {

cudaError_t set_dr_constant(ModelConstant which, std::uint32_t bits) {
  return set_model_constant(which, bits, dr_d_df_COLS0, dr_d_df_COLS1, dr_d_chisq_threshold, dr_d_or_threshold);
}

void launch_dr_within(dim3 grid, dim3 block, const PassLaunch& l) {
  const GroupMasks& g = *l.a;
  VP_LAUNCH(dr_compute_chi_square_within_group_kernel, grid, block, nullptr, g.cases.get(0), g.cases.get(1),
            g.cases.get(2), g.cases.get(3), g.controls.get(0), g.controls.get(1), g.controls.get(2), g.controls.get(3),
            l.case_words, l.control_words, l.size_a, l.results, l.valid_count, l.batch_start, l.batch_count, l.start_a);
}

void launch_dr_between(dim3 grid, dim3 block, const PassLaunch& l) {
  const GroupMasks& a = *l.a;
  const GroupMasks& b = *l.b;
  VP_LAUNCH(dr_compute_chi_square_between_groups_kernel, grid, block, nullptr, a.cases.get(0), a.cases.get(1),
            a.cases.get(2), a.cases.get(3), a.controls.get(0), a.controls.get(1), a.controls.get(2), a.controls.get(3),
            b.cases.get(0), b.cases.get(1), b.cases.get(2), b.cases.get(3), b.controls.get(0), b.controls.get(1),
            b.controls.get(2), b.controls.get(3), l.case_words, l.control_words, l.size_a, l.size_b, l.results,
            l.valid_count, l.batch_start, l.batch_count, l.start_a, l.start_b);
}

}  // namespace

MaskStore build_domrec_masks(const MappedFile& file) { return build_masks(file, kDomrecMasks); }

void upload_domrec_masks(const MaskStore& store, std::int32_t first, std::int32_t end, DeviceMasks& out) {
  upload_masks(store, first, end, out, MaskNames{{"dominant mask", "recessive mask", "AB mask", "BB mask"}, false});
}

const char* domrec_label(std::int32_t model) {
  static const char* const kLabels[4] = {"(AA+Aa)*(BB+Bb)_vs_other", "(AA+Aa)*BB_vs_other", "AA*(BB+Bb)_vs_other",
                                         "AA*BB_vs_other"};
  return model >= 0 && model < 4 ? kLabels[model] : "unknown";
}

const InteractionModel& domrec_interaction_model() {
  static const InteractionModel model{
      kDomrecInteraction,
      &build_domrec_masks,
      &upload_domrec_masks,
      4,
      PlanConstants{4 * sizeof(InteractionRecord), 4, true},
      /*report_device=*/false,
      /*input_errors_escape=*/true,
      "Error: Number of SNPs in control and case files must be the same!",
      "ERROR: Within-group kernel launch failed: ",
      "Model\tSNP0\tSNP1\ta\tb\tc\td\tchi_square\tchi_pvalue\tOR\tOR_lower\tOR_upper",
      &domrec_label,
      "Dominant-recessive interaction analysis completed successfully!",
      &report_between_done,
      &report_mask_words,
      &set_dr_constant,
      &launch_dr_within,
      &launch_dr_between,
  };
  return model;
}

}  // namespace varpair
