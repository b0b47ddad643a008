// The shared driver of the interaction commands.
#pragma once

#include "interaction/interaction_command.h"
#include "interaction/interaction_model.h"
#include "interaction/interaction_settings.h"

namespace varpair {

// Runs one interaction command: `command` gives its texts, `model` what it computes. Returns the
// exit status.
int run_interaction(const InteractionCommand& command, const InteractionModel& model,
                    const InteractionSettings& settings);

}  // namespace varpair
