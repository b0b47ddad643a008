// `varpair merge`: joins the N shards of a run (-parallel K N) into the files that one run with the
// same -o (and -distribution) would have written, under the same names, with a run log of its own:
// LD text tables concatenated, part files gathered and renumbered, distributions summed, and
// interaction tables merged from the shards' exact records in SNP0, SNP1, label order. A missing
// or incomplete shard stops the merge before it writes anything.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "interaction/interaction_command.h"
#include "interaction/interaction_model.h"
#include "ld/ld_settings.h"

namespace varpair {

struct MergeSettings {
  std::string output;        // -o, as the shards were given it
  std::string distribution;  // -distribution, or empty
  int shards = 0;            // -parallel N
  std::string command_line;  // for the log
};

// What the merge must know of the command that made the shards: its family's texts and, for an
// interaction command, its model (whose table keeps and prints the records).
struct MergeCommand {
  const LdCommand* ld = nullptr;
  const InteractionCommand* interaction = nullptr;
  const InteractionModel* model = nullptr;
};
using MergeLookup = std::function<std::optional<MergeCommand>(const std::string& command_name)>;

// Returns the exit status.
int run_merge(const MergeSettings& settings, const MergeLookup& lookup);

}  // namespace varpair
