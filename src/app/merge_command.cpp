#include "app/merge_command.h"

#include <cstdlib>
#include <iostream>

#include "app/options.h"
#include "common/path_guard.h"

namespace varpair {

int run_merge_command(int argc, const char* const* argv, const MergeLookup& lookup) {
  const auto options = scan_options(argc, argv, {"-o", "-parallel", "-distribution"}, std::cerr, true);
  if (!options) return 1;
  if (!options->has("-o") || !options->has("-parallel")) {
    std::cerr << "Error: Missing required arguments!" << std::endl
              << "Usage: varpair merge -o OUT -parallel N [-distribution D]" << std::endl;
    return 1;
  }
  MergeSettings s;
  s.output = options->get("-o");
  if (options->has("-distribution")) s.distribution = options->get("-distribution");
  const auto shards = read_int_option(*options, "-parallel", 0, std::cerr);
  if (!shards) return 1;
  if (*shards < 1) {
    std::cerr << "Error: -parallel must be at least 1 (got " << *shards << ")" << std::endl;
    return 1;
  }
  s.shards = *shards;
  s.command_line = command_line_text(argc, argv);
  if (!check_output_name({"-o", s.output}, std::cerr) ||
      (options->has("-distribution") && !check_output_name({"-distribution", s.distribution}, std::cerr)))
    return 1;
  if (!s.distribution.empty() && same_file(s.distribution, s.output)) {
    std::cerr << "Error: -distribution and -o are the same file: " << s.output << std::endl;
    return 1;
  }
  return run_merge(s, lookup);
}

}  // namespace varpair
