#include "app/entry.h"

#include <iostream>
#include <string_view>

#include "app/command_options.h"
#include "app/help.h"
#include "app/merge_command.h"
#include "app/usage.h"
#include "device/guarded_run.h"
#include "interaction/interaction_run.h"
#include "ld/ld_driver.h"
#include "models/boost_interaction.h"
#include "models/domrec_interaction.h"
#include "models/genotype_interaction.h"
#include "models/mdr_interaction.h"
#include "models/qt_interaction.h"

namespace varpair {

namespace {

// The command table: each command's name, its family's texts and, for the interaction commands,
// the model it runs.
struct CommandEntry {
  std::string_view name;
  const LdCommand* ld;
  const InteractionCommand* interaction;
  const InteractionModel& (*model)();
};

const CommandEntry kCommands[] = {
    {"interChromLDr2", &kR2Command, nullptr, nullptr},
    {"interChromLDdprime", &kDprimeCommand, nullptr, nullptr},
    {"genotype_interaction", nullptr, &kGenotypeInteraction, &genotype_interaction_model},
    {"mdr_interaction", nullptr, &kMdrInteraction, &mdr_interaction_model},
    {"domrec_interaction", nullptr, &kDomrecInteraction, &domrec_interaction_model},
    {"boost_interaction", nullptr, &kBoostInteraction, &boost_interaction_model},
    {"qt_interaction", nullptr, &kQtInteraction, &qt_interaction_model},
};

// Reads the command line into the family's settings and runs its driver; argv[0] is the command.
int run_command(const CommandEntry& command, int argc, const char* const* argv) {
  if (command.ld != nullptr) {
    const auto settings = read_ld_settings(*command.ld, argc, argv, std::cerr);
    return settings ? run_ld(*command.ld, *settings) : 1;
  }
  const InteractionModel& model = command.model();
  const auto settings = read_interaction_settings(*command.interaction, model, argc, argv, std::cerr);
  return settings ? run_interaction(*command.interaction, model, *settings) : 1;
}

// The merge joins shards of any command: it learns which from their manifests.
std::optional<MergeCommand> merge_command_of(const std::string& name) {
  for (const CommandEntry& command : kCommands) {
    if (name != command.name) continue;
    MergeCommand m;
    m.ld = command.ld;
    m.interaction = command.interaction;
    if (command.model != nullptr) m.model = &command.model();
    return m;
  }
  return std::nullopt;
}

bool asks_for_help(std::string_view arg) { return arg == "--help" || arg == "-h"; }

}  // namespace

int run_entry(int argc, const char* const* argv) {
  if (argc < 2) {
    print_usage(std::cout);
    return 1;
  }
  // Help and version as other tools give them: on standard output, exit status 0.
  const std::string_view first = argv[1];
  if (argc > 2 && asks_for_help(argv[2]) && print_command_help(std::cout, argv[1])) return 0;
  if (asks_for_help(first) || first == "help" || (argc > 2 && asks_for_help(argv[2]))) {
    print_help(std::cout);
    return 0;
  }
  if (first == "--version") {
    std::cout << "varpair 2.0 (" << device::backend_kind() << " backend)" << std::endl;
    return 0;
  }
  if (std::string_view(argv[1]) == "merge")
    return run_guarded("merge", [&] { return run_merge_command(argc - 1, argv + 1, &merge_command_of); });
  for (const CommandEntry& command : kCommands)
    if (argv[1] == command.name) return run_guarded(argv[1], [&] { return run_command(command, argc - 1, argv + 1); });
  std::cerr << "Unknown command: " << argv[1] << std::endl;
  print_usage(std::cout);
  return 1;
}

}  // namespace varpair
