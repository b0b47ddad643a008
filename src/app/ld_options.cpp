#include "app/command_options.h"
#include "app/options.h"
#include "common/path_guard.h"
#include "common/run_log.h"

namespace varpair {

std::optional<LdSettings> read_ld_settings(const LdCommand& command, int argc, const char* const* argv,
                                           std::ostream& err) {
  const auto options =
      scan_options(argc, argv, {"-file0", "-file1", "-o", "-threads", command.cut_option, "-distribution"}, err);
  if (!options) return std::nullopt;
  if (!options->has("-file0") || !options->has("-file1") || !options->has("-o")) {
    err << command.missing_arguments << std::endl;
    return std::nullopt;
  }
  LdSettings s;
  s.file0 = options->get("-file0");
  s.file1 = options->get("-file1");
  s.output = options->get("-o");
  s.distribution_on = options->has("-distribution");
  if (s.distribution_on) s.distribution = options->get("-distribution");
  s.command_line = command_line_text(argc, argv);

  const auto threads = read_threads_option(*options, err);
  if (!threads) return std::nullopt;
  s.threads = *threads;
  const auto cutoff = read_float_option(*options, command.cut_option, 0.8f, err);
  if (!cutoff) return std::nullopt;
  s.cutoff = *cutoff;

  std::vector<NamedPath> outputs{{"the run log", ld_log_path(s.output)}};
  if (s.binary_mode())
    outputs.push_back({"the metadata file", s.metadata_path()});
  else
    outputs.push_back({"-o", s.output});
  if (s.distribution_on) outputs.push_back({"-distribution", s.distribution});
  std::vector<NamedPath> directories;
  if (s.binary_mode()) directories.push_back({"the parts directory", s.parts_directory()});
  if (!check_distinct_paths({{"-file0", s.file0}, {"-file1", s.file1}}, outputs, directories, err)) return std::nullopt;
  return s;
}

}  // namespace varpair
