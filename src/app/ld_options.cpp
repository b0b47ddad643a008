#include <tuple>

#include "app/command_options.h"
#include "app/options.h"
#include "common/genotype_source.h"
#include "common/path_guard.h"
#include "common/run_log.h"

namespace varpair {

std::optional<LdSettings> read_ld_settings(const LdCommand& command, int argc, const char* const* argv,
                                           std::ostream& err) {
  const auto options = scan_options(
      argc, argv,
      {"-file0", "-file1", "-o", "-threads", command.cut_option, "-distribution", "-chr0", "-chr1", "-estimate",
       kParallelOption},
      err);
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
  const auto shard = read_shard_option(*options, err);
  if (!shard) return std::nullopt;
  s.shard = *shard;
  s.shard_command_line = command_line_without_shard(argc, argv);
  if (s.shard.on()) {
    s.output = shard_path(s.output, s.shard.k);
    if (s.distribution_on) s.distribution = shard_path(s.distribution, s.shard.k);
  }
  const GenotypePath kind0 = classify_genotype_path(s.file0), kind1 = classify_genotype_path(s.file1);
  s.variant_ids = kind0.format != GenotypeFormat::kText || kind1.format != GenotypeFormat::kText;
  for (const auto& [option, kind, chromosome] :
       {std::tuple{"-chr0", kind0, &s.chromosome0}, std::tuple{"-chr1", kind1, &s.chromosome1}}) {
    if (!options->has(option)) continue;
    *chromosome = options->get(option);
    if (kind.format == GenotypeFormat::kText || chromosome->empty()) {
      err << "Error: " << option << " selects a chromosome of a PLINK fileset or a VCF/BCF file; "
          << (chromosome->empty() ? "it is empty" : kind.files[0] + " is a text table") << std::endl;
      return std::nullopt;
    }
  }

  const auto threads = read_threads_option(*options, err);
  if (!threads) return std::nullopt;
  s.threads = *threads;
  const auto cutoff = read_float_option(*options, command.cut_option, 0.8f, kZeroToOne, err);
  if (!cutoff) return std::nullopt;
  s.cutoff = *cutoff;
  if (options->has("-estimate")) {
    s.estimate_given = true;
    const std::string& estimate = options->get("-estimate");
    if (estimate == "ml") {
      s.estimate = LdEstimate::kMaximumLikelihood;
    } else if (estimate != "em20") {
      err << "Error: Invalid value for -estimate: '" << estimate
          << "' (em20, the 20-round EM, or ml, the maximum-likelihood estimate)" << std::endl;
      return std::nullopt;
    }
  }

  std::vector<NamedPath> outputs{{"the run log", ld_log_path(s.output)}};
  if (s.shard.on()) outputs.push_back({"the shard's manifest", manifest_path(s.output)});
  if (s.binary_mode()) {
    outputs.push_back({"the metadata file", s.metadata_path()});
    if (s.variant_ids) outputs.push_back({"the variant IDs of -file0", s.ids_path(0)});
    if (s.variant_ids) outputs.push_back({"the variant IDs of -file1", s.ids_path(1)});
  } else {
    outputs.push_back({"-o", s.output});
  }
  if (s.distribution_on) outputs.push_back({"-distribution", s.distribution});
  std::vector<NamedPath> directories;
  if (s.binary_mode()) directories.push_back({"the parts directory", s.parts_directory()});
  std::vector<NamedPath> inputs;
  for (const std::string& f : kind0.files) inputs.push_back({"-file0", f});
  for (const std::string& f : kind1.files) inputs.push_back({"-file1", f});
  if (!check_output_name({"-o", options->get("-o")}, err) ||
      (s.distribution_on && !check_output_name({"-distribution", options->get("-distribution")}, err)) ||
      !check_input_files(inputs, err) || !check_distinct_paths(inputs, outputs, directories, err))
    return std::nullopt;
  return s;
}

}  // namespace varpair
