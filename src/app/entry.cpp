#include "app/entry.h"

#include <iostream>
#include <string_view>

#include "app/usage.h"
#include "interaction/interaction_driver.h"
#include "ld/ld_driver.h"

namespace varpair {

namespace {

struct CommandEntry {
  std::string_view name;
  int (*driver)(int argc, const char* const* argv);
};

constexpr CommandEntry kCommands[] = {
    {"interChromLDr2", &run_interChromLDr2},
    {"interChromLDdprime", &run_interChromLDdprime},
    {"genotype_interaction", &run_genotype_interaction},
    {"mdr_interaction", &run_mdr_interaction},
    {"domrec_interaction", &run_domrec_interaction},
};

}  // namespace

int run_entry(int argc, const char* const* argv) {
  if (argc < 2) {
    print_usage(std::cout);
    return 1;
  }
  for (const CommandEntry& command : kCommands)
    if (argv[1] == command.name) return command.driver(argc - 1, argv + 1);
  std::cerr << "Unknown command: " << argv[1] << std::endl;
  print_usage(std::cout);
  return 1;
}

}  // namespace varpair
