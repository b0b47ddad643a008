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

__global__ void boost_screen_within_group_kernel(const PassArgs args) {
  run_pass<false>(args, BoostEvaluation{BoostScreen{args.model_data}, args.snp_counts});
}

__global__ void boost_screen_between_groups_kernel(const PassArgs args) {
  run_pass<true>(args, BoostEvaluation{BoostScreen{args.model_data}, args.snp_counts});
}

const InteractionModel& boost_interaction_model() {
  ModelParts parts{&set_model_constant<boost_d_control_columns, boost_d_case_columns, boost_d_chisq_threshold,
                                       boost_d_or_threshold>,
                   &make_boost_table};
  parts.run_data = &boost_run_data;
  parts.side_outputs = kSideOutputs;
  parts.counts_per_snp = true;
  return model_of<BoostEvaluation, boost_screen_within_group_kernel, boost_screen_between_groups_kernel>(parts);
}

}  // namespace varpair
