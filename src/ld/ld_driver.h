// The driver of the two cross-chromosome LD commands.
#pragma once

#include "ld/ld_settings.h"

namespace varpair {

// Runs one LD command with its checked settings; returns the exit status.
int run_ld(const LdCommand& command, const LdSettings& settings);

}  // namespace varpair
