// Drivers of the three case/control interaction commands.
#pragma once

namespace varpair {

// argv[0] is the command name; returns the exit status.
int run_genotype_interaction(int argc, const char* const* argv);
int run_mdr_interaction(int argc, const char* const* argv);
int run_domrec_interaction(int argc, const char* const* argv);

}  // namespace varpair
