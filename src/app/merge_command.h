#pragma once

#include "merge/merge.h"

namespace varpair {

// `varpair merge -o OUT -parallel N [-distribution D]`; argv[0] is "merge". The exit status.
int run_merge_command(int argc, const char* const* argv, const MergeLookup& lookup);

}  // namespace varpair
