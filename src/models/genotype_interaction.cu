// Device unit of genotype_interaction: the nine-genotype model's constants and kernels.
#include "interaction/model_constants.h"
#include "interaction/pass_kernel.cuh"
#include "interaction/result_writer.h"
#include "models/genotype_interaction.h"
#include "models/memberships.h"
#include "models/pair_evaluations.h"

namespace {
__constant__ unsigned int gi_d_df_COLS0;  // control samples (set, not read)
__constant__ unsigned int gi_d_df_COLS1;  // case samples (set, not read)
__constant__ float gi_d_chisq_threshold;
__constant__ float gi_d_or_threshold;
}  // namespace

namespace varpair {

__global__ void gi_compute_chi_square_within_group_kernel(const PassArgs args) {
  run_pass<false>(args, NineGenotypeEvaluation{{gi_d_chisq_threshold, gi_d_or_threshold}});
}

__global__ void gi_compute_chi_square_between_groups_kernel(const PassArgs args) {
  run_pass<true>(args, NineGenotypeEvaluation{{gi_d_chisq_threshold, gi_d_or_threshold}});
}

const InteractionModel& genotype_interaction_model() {
  return model_of<NineGenotypeEvaluation, gi_compute_chi_square_within_group_kernel,
                  gi_compute_chi_square_between_groups_kernel>(
      {&set_model_constant<gi_d_df_COLS0, gi_d_df_COLS1, gi_d_chisq_threshold, gi_d_or_threshold>,
       &two_by_two_table_of<NineGenotypeEvaluation, &nine_genotype_membership>});
}

}  // namespace varpair
