// Device unit of mdr_interaction: the MDR model's constants and kernels.
#include "interaction/model_constants.h"
#include "interaction/pair_counts.h"
#include "interaction/pass_kernel.cuh"
#include "interaction/table_2x2.h"
#include "models/mdr_interaction.h"
#include "models/model_tables.h"

namespace {
__constant__ int mdr_d_df_COLS0;  // control samples (set, not read)
__constant__ int mdr_d_df_COLS1;  // case samples (set, not read)
__constant__ float mdr_d_chisq_threshold;
__constant__ float mdr_d_or_threshold;
}  // namespace

namespace varpair {

namespace {

// One table of the high-risk against the low-risk cells; a class without cases or controls gives
// nothing.
__device__ __forceinline__ void evaluate_pair(const PairCells& cells, float ratio, std::int32_t snp0, std::int32_t snp1,
                                              InteractionRecord* results, unsigned long long* valid_count) {
  const Table2x2 t = mdr_risk_table(cells, ratio);
  if (t.a < 1 || t.b < 1 || t.c < 1 || t.d < 1) return;
  InteractionRecord record;
  if (!test_table(t.a, t.b, t.c, t.d, InteractionThresholds{mdr_d_chisq_threshold, mdr_d_or_threshold}, record)) return;
  record.snp0 = snp0;
  record.snp1 = snp1;
  record.label = 0;
  append_records(&record, 1, results, valid_count);
}

}  // namespace

__global__ void mdr_compute_chi_square_within_group_kernel(
    const std::uint64_t* case_mask0, const std::uint64_t* case_mask1, const std::uint64_t* case_mask2,
    const std::uint64_t* control_mask0, const std::uint64_t* control_mask1, const std::uint64_t* control_mask2,
    std::int32_t case_words, std::int32_t control_words, std::int32_t group_size, InteractionRecord* results,
    unsigned long long* valid_count, std::uint64_t batch_start, std::uint64_t batch_count, std::int32_t group_start,
    float ratio) {
  const GroupClassMasks g{{case_mask0, case_mask1, case_mask2}, {control_mask0, control_mask1, control_mask2}};
  within_group_cells(g, case_words, control_words, group_size, batch_start, batch_count, group_start,
                     [&](const PairCells& cells, std::int32_t snp0, std::int32_t snp1) {
                       evaluate_pair(cells, ratio, snp0, snp1, results, valid_count);
                     });
}

__global__ void mdr_compute_chi_square_between_groups_kernel(
    const std::uint64_t* case_a0, const std::uint64_t* case_a1, const std::uint64_t* case_a2,
    const std::uint64_t* control_a0, const std::uint64_t* control_a1, const std::uint64_t* control_a2,
    const std::uint64_t* case_b0, const std::uint64_t* case_b1, const std::uint64_t* case_b2,
    const std::uint64_t* control_b0, const std::uint64_t* control_b1, const std::uint64_t* control_b2,
    std::int32_t case_words, std::int32_t control_words, std::int32_t size_a, std::int32_t size_b,
    InteractionRecord* results, unsigned long long* valid_count, std::uint64_t batch_start, std::uint64_t batch_count,
    std::int32_t start_a, std::int32_t start_b, float ratio) {
  const GroupClassMasks a{{case_a0, case_a1, case_a2}, {control_a0, control_a1, control_a2}};
  const GroupClassMasks b{{case_b0, case_b1, case_b2}, {control_b0, control_b1, control_b2}};
  between_groups_cells(a, b, case_words, control_words, size_a, size_b, batch_start, batch_count, start_a, start_b,
                       [&](const PairCells& cells, std::int32_t snp0, std::int32_t snp1) {
                         evaluate_pair(cells, ratio, snp0, snp1, results, valid_count);
                       });
}

namespace {

cudaError_t set_mdr_constant(ModelConstant which, std::uint32_t bits) {
  return set_model_constant(which, bits, mdr_d_df_COLS0, mdr_d_df_COLS1, mdr_d_chisq_threshold, mdr_d_or_threshold);
}

void launch_mdr_within(dim3 grid, dim3 block, const PassLaunch& l) {
  const GroupMasks& g = *l.a;
  VP_LAUNCH(mdr_compute_chi_square_within_group_kernel, grid, block, nullptr, g.cases.get(0), g.cases.get(1),
            g.cases.get(2), g.controls.get(0), g.controls.get(1), g.controls.get(2), l.case_words, l.control_words,
            l.size_a, l.results, l.valid_count, l.batch_start, l.batch_count, l.start_a, l.sample_ratio);
}

void launch_mdr_between(dim3 grid, dim3 block, const PassLaunch& l) {
  const GroupMasks& a = *l.a;
  const GroupMasks& b = *l.b;
  VP_LAUNCH(mdr_compute_chi_square_between_groups_kernel, grid, block, nullptr, a.cases.get(0), a.cases.get(1),
            a.cases.get(2), a.controls.get(0), a.controls.get(1), a.controls.get(2), b.cases.get(0), b.cases.get(1),
            b.cases.get(2), b.controls.get(0), b.controls.get(1), b.controls.get(2), l.case_words, l.control_words,
            l.size_a, l.size_b, l.results, l.valid_count, l.batch_start, l.batch_count, l.start_a, l.start_b,
            l.sample_ratio);
}

// MDR reports a failed mask copy without the runtime's text.
void upload_mdr_masks(const MaskStore& store, std::int32_t first, std::int32_t end, DeviceMasks& out) {
  upload_masks(store, first, end, out, MaskNames{{"mask0", "mask1", "mask2", ""}, false});
}

const char* mdr_label(std::int32_t) { return "high_risk_vs_low_risk"; }

void report_sample_ratio(RunLog& log, const MaskStore& cases, const MaskStore& controls) {
  log << "Control / Case sample ratio fold = "
      << static_cast<float>(controls.samples) / static_cast<float>(cases.samples) << eol;
}

void report_mdr_between_done(RunLog& log, std::size_t g1, std::size_t g2, std::uint64_t pairs) {
  log << "Inter-group " << g1 << " and " << g2 << "completed: " << pairs << " pairs processed" << eol;
}

}  // namespace

const InteractionModel& mdr_interaction_model() {
  static const InteractionModel model{
      kMdrInteraction,
      &build_genotype_masks,
      &upload_mdr_masks,
      1,
      PlanConstants{sizeof(InteractionRecord), 3, false},
      /*report_device=*/false,
      /*input_errors_escape=*/false,
      "Error: Number of SNPs in case and control files must be the same!",
      "ERROR: Within-group kernel launch failed: ",
      "Model\tSNP0\tSNP1\ta\tb\tc\td\tchi_square\tchi_pvalue\tOR\tOR_lower\tOR_upper",
      &mdr_label,
      "Multi-factor dimensionality reduction interaction analysis completed successfully!",
      &report_mdr_between_done,
      &report_sample_ratio,
      &set_mdr_constant,
      &launch_mdr_within,
      &launch_mdr_between,
  };
  return model;
}

}  // namespace varpair
