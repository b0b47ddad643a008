// The texts in which the interaction commands differ, one plain table per command, read by
// the shared driver. What a model computes is apart from this (interaction_model.h).
#pragma once

#include <array>

namespace varpair {

// How the command reports the lines that precede the memory plan.
enum class InputReport { kMaskWords, kSampleRatio };

struct InteractionCommand {
  const char* name;        // "genotype_interaction"
  const char* usage_line;  // the short usage line shown with missing arguments
  const char* header;      // first line of the result table
  const char* success_line;
  const char* snp_count_mismatch;
  const char* within_launch_failed;  // prefix of a failed within-group launch
  // "Completed between groups <g1> and <g2>: <P> pairs processed", in three pieces.
  std::array<const char*, 3> between_done;
  std::array<const char*, 3> mask_names;  // how mask upload failures name the masks
  bool mask_errors_with_runtime_text;
  bool accepts_chisq_cut;                // -chisq_cut names the p-value cut-off too (the usage text offers it)
  bool accepts_or_cut;                   // -or_cut (the 2x2 models' odds-ratio cut-off)
  bool report_device;                    // select_gpu names the device
  bool read_errors_escape;               // a table that cannot be read leaves through the outermost handler
  bool group_floor_only_above_100_rows;  // the planner's lower bound of 100 rows a group
  InputReport input_report;
  bool quantitative = false;  // one fileset or VCF with quantitative traits (qt_input.h), no case/control sets
};

extern const InteractionCommand kGenotypeInteraction;
extern const InteractionCommand kMdrInteraction;
extern const InteractionCommand kDomrecInteraction;
extern const InteractionCommand kBoostInteraction;
extern const InteractionCommand kQtInteraction;

}  // namespace varpair
