#include "interaction/interaction_driver.h"

#include <ctime>
#include <iostream>

#include "app/options.h"
#include "common/clock.h"
#include "common/run_log.h"
#include "device/guarded_run.h"
#include "interaction/interaction_settings.h"
#include "models/genotype_interaction.h"

namespace varpair {

namespace {

void write_header(RunLog& log, const InteractionCommand& command, int argc, const char* const* argv) {
  log << "varpair version: 2.0" << eol;
  log << "Device backend: " << device::backend_description() << eol;
  log << "Command: " << command.name << eol;
  log << "Command line: " << command.name + command_line_text(argc, argv) << eol;
  log << "Program started at: " << ctime_text(std::time(nullptr));
  log << "----------------------------------------" << eol;
}

int run_interaction(const InteractionCommand& command, int argc, const char* const* argv) {
  const auto settings = read_interaction_settings(command, argc, argv, std::cerr);
  if (!settings) return 1;
  RunLog log(interaction_log_path(settings->output));
  write_header(log, command, argc, argv);
  log << "Error: " << command.name << " is not available in this version of varpair yet" << eol;
  return 1;
}

}  // namespace

int run_genotype_interaction(int argc, const char* const* argv) {
  return run_interaction_model(genotype_interaction_model(), argc, argv);
}
int run_mdr_interaction(int argc, const char* const* argv) {
  return run_guarded(kMdrInteraction.name, [&] { return run_interaction(kMdrInteraction, argc, argv); });
}
int run_domrec_interaction(int argc, const char* const* argv) {
  return run_guarded(kDomrecInteraction.name, [&] { return run_interaction(kDomrecInteraction, argc, argv); });
}

}  // namespace varpair
