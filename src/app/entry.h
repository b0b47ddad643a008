#pragma once

namespace varpair {

// The program: argv[1] names the command, whose driver gets argv[1 ...]. Returns the exit status.
int run_entry(int argc, const char* const* argv);

}  // namespace varpair
