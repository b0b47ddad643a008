// What an interaction model brings to the shared driver: its masks, device constants, kernels,
// labels and the texts in which the commands differ.
#pragma once

#include <array>
#include <cstdint>

#include "common/run_log.h"
#include "device/runtime.h"
#include "interaction/genotype_masks.h"
#include "interaction/gpu_plan.h"
#include "interaction/interaction_record.h"
#include "interaction/interaction_settings.h"
#include "interaction/result_writer.h"

namespace varpair {

// The masks of one group for both sample sets.
struct GroupMasks {
  DeviceMasks cases;
  DeviceMasks controls;
};

// Arguments of one launch of a pass's kernel. Between groups, `a` is the earlier group.
struct PassLaunch {
  const GroupMasks* a;
  const GroupMasks* b;  // null within a group
  std::int32_t case_words;
  std::int32_t control_words;
  std::int32_t size_a;
  std::int32_t size_b;
  InteractionRecord* results;
  unsigned long long* valid_count;  // 32-bit words written, 11 a record
  std::uint64_t batch_start;
  std::uint64_t batch_count;
  std::int32_t start_a;
  std::int32_t start_b;
  float sample_ratio;  // controls / cases, for the models that weigh by it
};

// The four device constants, in the order they are set, with the line of a failure.
enum class ModelConstant { kControlColumns, kCaseColumns, kChiSquareThreshold, kOddsRatioThreshold };

struct InteractionModel {
  const InteractionCommand& command;
  // Reading a table into the model's masks, and placing a group's masks on the device.
  MaskStore (*build_masks)(const MappedFile& file);
  void (*upload_masks)(const MaskStore& store, std::int32_t first, std::int32_t end, DeviceMasks& out);
  std::uint32_t records_per_pair;  // the most records one pair can produce
  PlanConstants plan;
  bool report_device;        // select_gpu names the device
  bool input_errors_escape;  // a table that cannot be read leaves through the outermost handler
  const char* snp_count_mismatch;
  const char* within_launch_failed;  // prefix of a failed within-group launch
  const char* header;
  LabelText label;
  const char* success_line;
  // "Completed between groups g1 and g2: P pairs processed", or the model's own words.
  void (*between_done)(RunLog& log, std::size_t g1, std::size_t g2, std::uint64_t pairs);
  // Lines between the file reading and the memory plan ("Case mask words: ", ...).
  void (*report_inputs)(RunLog& log, const MaskStore& cases, const MaskStore& controls);
  // Sets one device constant from its 4 bytes.
  cudaError_t (*set_constant)(ModelConstant which, std::uint32_t bits);
  void (*launch_within)(dim3 grid, dim3 block, const PassLaunch& launch);
  void (*launch_between)(dim3 grid, dim3 block, const PassLaunch& launch);
};

// The shared line at the end of a between-group pass.
void report_between_done(RunLog& log, std::size_t g1, std::size_t g2, std::uint64_t pairs);

// "Case mask words: " and "Control mask words: ".
void report_mask_words(RunLog& log, const MaskStore& cases, const MaskStore& controls);

// Runs one interaction command with `model`; argv[0] is the command name. The exit status.
int run_interaction_model(const InteractionModel& model, int argc, const char* const* argv);

}  // namespace varpair
