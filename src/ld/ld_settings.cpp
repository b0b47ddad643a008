#include "ld/ld_settings.h"

#include "app/options.h"
#include "common/path_guard.h"
#include "common/run_log.h"
#include "ld/ld_kernels.h"

namespace varpair {

const LdCommand kR2Command{
    "interChromLDr2", "-r2_cut", "Using r2 cutoff: ",  "Missing required arguments for interChromLDr2!",
    "SNP0\tSNP1\tr2", 1000000,   &set_r2_sample_count, &launch_compute_ld_r2,
    &launch_filter_r2};
const LdCommand kDprimeCommand{
    "interChromLDdprime", "-dprime_cut", "Using D' cutoff: ",      "Missing required arguments for interChromLDdprime!",
    "SNP0\tSNP1\tDprime", 100000000,     &set_dprime_sample_count, &launch_compute_ld_dprime,
    &launch_filter_dprime};

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
