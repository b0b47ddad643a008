// Device unit of domrec_interaction: the dominant-recessive models' constants and kernels.
#include "interaction/model_constants.h"
#include "interaction/pass_kernel.cuh"
#include "interaction/result_writer.h"
#include "models/domrec_interaction.h"
#include "models/memberships.h"
#include "models/pair_evaluations.h"

namespace {
__constant__ float dr_d_chisq_threshold;
__constant__ float dr_d_or_threshold;
__constant__ unsigned int dr_d_df_COLS0;  // control samples (set, not read)
__constant__ unsigned int dr_d_df_COLS1;  // case samples (set, not read)
}  // namespace

namespace varpair {

// Genotype classes 0, 1, 2 are the model's recessive, AB and BB masks; its dominant mask (genotype
// 0 or 1) is the union of two of them and never needed.
__global__ void dr_compute_chi_square_within_group_kernel(const PassArgs args) {
  run_pass<false>(args, DomrecEvaluation{{dr_d_chisq_threshold, dr_d_or_threshold}});
}

__global__ void dr_compute_chi_square_between_groups_kernel(const PassArgs args) {
  run_pass<true>(args, DomrecEvaluation{{dr_d_chisq_threshold, dr_d_or_threshold}});
}

const InteractionModel& domrec_interaction_model() {
  return model_of<DomrecEvaluation, dr_compute_chi_square_within_group_kernel,
                  dr_compute_chi_square_between_groups_kernel>(
      {&set_model_constant<dr_d_df_COLS0, dr_d_df_COLS1, dr_d_chisq_threshold, dr_d_or_threshold>,
       &two_by_two_table_of<DomrecEvaluation, &domrec_membership>});
}

}  // namespace varpair
