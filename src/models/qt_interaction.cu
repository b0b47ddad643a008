// Device unit of qt_interaction: for each pair and trait, the exact sums of the trait's test over
// the samples with both genotypes (qt_math.h), the fit, and the tests whose |T| may reach the
// cut-off sent back. The family's four constants are set, and not read.
#include "interaction/model_constants.h"
#include "interaction/pass_kernel.cuh"
#include "models/qt_evaluation.h"
#include "models/qt_interaction.h"
#include "models/qt_table.h"
#if !defined(VARPAIR_CUDA)
#include "device/vector_path.h"
#include "models/qt_tiles.h"
#endif

namespace {
__constant__ unsigned int qt_d_control_columns;
__constant__ unsigned int qt_d_case_columns;
__constant__ float qt_d_chisq_threshold;
__constant__ float qt_d_or_threshold;

constexpr const char* kSideOutputs[] = {varpair::kSummarySuffix};
}  // namespace

namespace varpair {

__global__ void qt_within_group_kernel(const PassArgs args) {
  run_pass<false>(args, QtEvaluation{args.model_bytes, args.model_counters});
}

__global__ void qt_between_groups_kernel(const PassArgs args) {
  run_pass<true>(args, QtEvaluation{args.model_bytes, args.model_counters});
}

#if !defined(VARPAIR_CUDA)
// On the host's vector lanes the pairs go by tiles (qt_tiles.h); its portable path is the GPU's.
template <bool kBetween, void (*kKernel)(PassArgs)>
void launch_on_host(dim3 grid, dim3 block, const PassArgs& args) {
  if (vector_path::enabled())
    launch_qt_tiles(args, kBetween);
  else
    launch_pass<kKernel>(grid, block, args);
}
#endif

const InteractionModel& qt_interaction_model() {
  ModelParts parts{&set_model_constant<qt_d_control_columns, qt_d_case_columns, qt_d_chisq_threshold, qt_d_or_threshold>,
                   &make_qt_table};
  parts.run_data = &qt_run_data;
  parts.side_outputs = kSideOutputs;
#if defined(VARPAIR_CUDA)
  return model_of<QtEvaluation, qt_within_group_kernel, qt_between_groups_kernel>(parts);
#else
  static const InteractionModel model = [&] {
    InteractionModel m = model_of<QtEvaluation, qt_within_group_kernel, qt_between_groups_kernel>(parts);
    m.launch_within = &launch_on_host<false, qt_within_group_kernel>;
    m.launch_between = &launch_on_host<true, qt_between_groups_kernel>;
    return m;
  }();
  return model;
#endif
}

}  // namespace varpair
