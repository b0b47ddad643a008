// Each command family's command line read into its settings, with every front-end check. On any
// error the reader writes its message to `err` and returns nothing.
#pragma once

#include <optional>
#include <ostream>

#include "interaction/interaction_command.h"
#include "interaction/interaction_model.h"
#include "interaction/interaction_settings.h"
#include "ld/ld_settings.h"

namespace varpair {

// argv[0] is the command name.
std::optional<LdSettings> read_ld_settings(const LdCommand& command, int argc, const char* const* argv,
                                           std::ostream& err);
std::optional<InteractionSettings> read_interaction_settings(const InteractionCommand& command,
                                                             const InteractionModel& model, int argc,
                                                             const char* const* argv, std::ostream& err);

}  // namespace varpair
