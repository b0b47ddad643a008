// Drivers of the two cross-chromosome LD commands.
#pragma once

namespace varpair {

// argv[0] is the command name; returns the exit status.
int run_interChromLDr2(int argc, const char* const* argv);
int run_interChromLDdprime(int argc, const char* const* argv);

}  // namespace varpair
