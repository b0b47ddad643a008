// Device unit of boost_interaction: the BOOST screen's kernels. Its thresholds and tables come as
// run data (PassArgs::model_data); the four constants of the family are set, and not read.
#include "interaction/model_constants.h"
#include "interaction/pass_kernel.cuh"
#include "models/boost_fit.h"
#include "models/boost_interaction.h"
#include "models/boost_math.h"
#include "models/boost_table.h"

namespace {
__constant__ unsigned int boost_d_control_columns;
__constant__ unsigned int boost_d_case_columns;
__constant__ float boost_d_chisq_threshold;
__constant__ float boost_d_or_threshold;

constexpr const char* kSideOutputs[] = {varpair::kSummarySuffix};
}  // namespace

namespace varpair {

// The evaluation of the pass kernels: a pair without a test is counted for both its SNPs (the
// per-SNP counts); a pair whose screen reaches the threshold of its degrees of freedom is sent
// back with its cells.
struct BoostEvaluation {
  using Record = BoostPairCells;
  static constexpr int kRecords = 1;
  BoostScreen screen;
  std::uint32_t* untested;  // per SNP: its pairs without a test

  // On the device only: the per-SNP counts are atomic additions.
  __device__ __forceinline__ int operator()(const PairCells& cells, std::int32_t snp0, std::int32_t snp1,
                                            Record* out) const {
    const std::int32_t* cases = &cells.cases[0][0];
    const std::int32_t* controls = &cells.controls[0][0];
    const int df = boost_degrees_of_freedom(cases, controls);
    if (df == 0) {
      atomicAdd(untested + snp0, 1u);
      atomicAdd(untested + snp1, 1u);
      return 0;
    }
    if (!boost_screen_reaches(cases, controls, screen, screen.threshold(df))) return 0;
    out->label = 0;
    for (int c = 0; c < 9; ++c) {
      out->cases[c] = cases[c];
      out->controls[c] = controls[c];
    }
    return 1;
  }
};

__global__ void boost_screen_within_group_kernel(const PassArgs args) {
  run_pass<false>(args, BoostEvaluation{BoostScreen{args.model_data}, args.snp_counts});
}

__global__ void boost_screen_between_groups_kernel(const PassArgs args) {
  run_pass<true>(args, BoostEvaluation{BoostScreen{args.model_data}, args.snp_counts});
}

const InteractionModel& boost_interaction_model() {
  ModelParts parts{
      &set_model_constant<boost_d_control_columns, boost_d_case_columns, boost_d_chisq_threshold, boost_d_or_threshold>,
      &make_boost_table};
  parts.run_data = &boost_run_data;
  parts.side_outputs = kSideOutputs;
  parts.counts_per_snp = true;
  return model_of<BoostEvaluation, boost_screen_within_group_kernel, boost_screen_between_groups_kernel>(parts);
}

}  // namespace varpair
