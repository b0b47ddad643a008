// Device unit of mdr_interaction: the MDR model's constants and kernels.
#include "interaction/model_constants.h"
#include "interaction/pass_kernel.cuh"
#include "interaction/result_writer.h"
#include "models/mdr_interaction.h"
#include "models/memberships.h"
#include "models/pair_evaluations.h"

namespace {
__constant__ int mdr_d_df_COLS0;  // control samples (set, not read)
__constant__ int mdr_d_df_COLS1;  // case samples (set, not read)
__constant__ float mdr_d_chisq_threshold;
__constant__ float mdr_d_or_threshold;
}  // namespace

namespace varpair {

__global__ void mdr_compute_chi_square_within_group_kernel(const PassArgs args) {
  run_pass<false>(args, MdrEvaluation{{mdr_d_chisq_threshold, mdr_d_or_threshold}, args.sample_ratio});
}

__global__ void mdr_compute_chi_square_between_groups_kernel(const PassArgs args) {
  run_pass<true>(args, MdrEvaluation{{mdr_d_chisq_threshold, mdr_d_or_threshold}, args.sample_ratio});
}

const InteractionModel& mdr_interaction_model() {
  return model_of<MdrEvaluation, mdr_compute_chi_square_within_group_kernel,
                  mdr_compute_chi_square_between_groups_kernel>(
      {&set_model_constant<mdr_d_df_COLS0, mdr_d_df_COLS1, mdr_d_chisq_threshold, mdr_d_or_threshold>,
       &two_by_two_table_of<MdrEvaluation, &mdr_membership>});
}

}  // namespace varpair
