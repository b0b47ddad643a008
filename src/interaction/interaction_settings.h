// What an interaction command line asks for, after the front-end checks.
#pragma once

#include <optional>
#include <ostream>
#include <string>

namespace varpair {

// The texts in which the three interaction commands differ at the front end.
struct InteractionCommand {
  const char* name;        // "genotype_interaction"
  const char* usage_line;  // the short usage line shown with missing arguments
};

extern const InteractionCommand kGenotypeInteraction;
extern const InteractionCommand kMdrInteraction;
extern const InteractionCommand kDomrecInteraction;

struct InteractionSettings {
  std::string case_path;     // -file0
  std::string control_path;  // -file1
  std::string output;        // -o
  double alpha = 0.00001;    // -alpha_cut, the p-value cut-off
  float or_threshold = 2.0f;
  int threads = 256;
  int device_index = 0;  // -set_gpu
};

// Scans and checks the options; on any error writes its message to `err` and returns nothing.
std::optional<InteractionSettings> read_interaction_settings(const InteractionCommand& command, int argc,
                                                             const char* const* argv, std::ostream& err);

}  // namespace varpair
