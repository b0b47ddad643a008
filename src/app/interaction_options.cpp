#include <algorithm>

#include "app/command_options.h"
#include "app/options.h"
#include "common/genotype_source.h"
#include "common/path_guard.h"
#include "common/run_log.h"

namespace varpair {

namespace {

// A list of column names, "A,B,...": names hold no white space (their files are split at it), so
// "PC1, AGE" means PC1 and AGE; a name given twice is refused.
bool read_names(const OptionValues& options, const std::string& option, std::vector<std::string>& out,
                std::ostream& err) {
  const std::string& names = options.get(option);
  constexpr const char* kSpace = " \t\r\n";
  for (std::size_t start = 0; start <= names.size();) {
    const std::size_t comma = std::min(names.find(',', start), names.size());
    const std::size_t first = names.find_first_not_of(kSpace, start);
    if (first < comma) {
      const std::size_t last = names.find_last_not_of(kSpace, comma - 1);
      out.push_back(names.substr(first, last + 1 - first));
    }
    start = comma + 1;
  }
  if (out.empty()) {
    err << "Error: Invalid value for " << option << ": '" << names << "' (" << (option == "-covar_name" ? "covariate" : "phenotype")
        << " names, separated by commas)" << std::endl;
    return false;
  }
  for (std::size_t k = 0; k < out.size(); ++k)
    if (std::find(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(k), out[k]) !=
        out.begin() + static_cast<std::ptrdiff_t>(k)) {
      err << "Error: " << option << " names '" << out[k] << "' twice: '" << names << "'" << std::endl;
      return false;
    }
  return true;
}

}  // namespace

std::optional<InteractionSettings> read_interaction_settings(const InteractionCommand& command,
                                                             const InteractionModel& model, int argc,
                                                             const char* const* argv, std::ostream& err) {
  // -chisq_cut is the name domrec_interaction's usage text gives the p-value cut-off; BOOST has no
  // odds-ratio cut-off.
  std::vector<std::string_view> accepted{"-file0",  "-o",     "-alpha_cut",  "-threads",
                                         "-set_gpu", "-pheno", "-covar", "-covar_name", kParallelOption};
  // A quantitative run reads one fileset or VCF and chooses its traits by name.
  accepted.push_back(command.quantitative ? "-pheno_name" : "-file1");
  if (command.accepts_chisq_cut) accepted.push_back("-chisq_cut");
  if (command.accepts_or_cut) accepted.push_back("-or_cut");
  const auto options = scan_options(argc, argv, accepted, err);
  if (!options) return std::nullopt;
  // A fileset or VCF alone holds cases and controls, told apart by phenotype.
  const bool one_fileset = options->has("-file0") && !options->has("-file1") &&
                           (command.quantitative ||
                            classify_genotype_path(options->get("-file0")).format != GenotypeFormat::kText);
  if (!options->has("-file0") || (!options->has("-file1") && !one_fileset) || !options->has("-o")) {
    err << "Error: Missing required arguments!" << std::endl << command.usage_line << std::endl;
    return std::nullopt;
  }
  InteractionSettings s;
  s.case_path = options->get("-file0");
  if (options->has("-file1")) s.control_path = options->get("-file1");
  if (options->has("-pheno")) s.phenotype_path = options->get("-pheno");
  if (!s.phenotype_path.empty() && !s.split_by_phenotype()) {
    err << "Error: -pheno splits the samples of one fileset or VCF into cases and controls; with -file1 the two "
           "tables are the cases and the controls"
        << std::endl;
    return std::nullopt;
  }
  if (options->has("-covar")) s.covariate_path = options->get("-covar");
  if (options->has("-covar_name") && !s.adjusted()) {
    err << "Error: -covar_name names columns of the -covar file; give -covar too" << std::endl;
    return std::nullopt;
  }
  if (options->has("-pheno_name") && s.phenotype_path.empty()) {
    err << "Error: -pheno_name names columns of the -pheno file; give -pheno too" << std::endl;
    return std::nullopt;
  }
  if ((options->has("-covar_name") && !read_names(*options, "-covar_name", s.covariate_names, err)) ||
      (options->has("-pheno_name") && !read_names(*options, "-pheno_name", s.phenotype_names, err)))
    return std::nullopt;
  const auto is_text = [](const std::string& path) {
    return classify_genotype_path(path).format == GenotypeFormat::kText;
  };
  if (s.adjusted() && (is_text(s.case_path) || (!s.split_by_phenotype() && is_text(s.control_path)))) {
    err << "Error: -covar matches samples by their IDs, and text tables carry none: give the genotypes as a "
           "PLINK fileset or a VCF/BCF"
        << std::endl;
    return std::nullopt;
  }
  s.output = options->get("-o");
  s.command_line = command_line_text(argc, argv);
  const auto shard = read_shard_option(*options, err);
  if (!shard) return std::nullopt;
  s.shard = *shard;
  s.shard_command_line = command_line_without_shard(argc, argv);
  s.log_path = s.shard.on() ? interaction_shard_log_path(s.output, s.shard.k) : interaction_log_path(s.output);
  if (s.shard.on()) s.output = shard_path(s.output, s.shard.k);

  const std::string alpha_option = options->last_of({"-alpha_cut", "-chisq_cut"});
  const auto alpha = read_double_option(*options, alpha_option, 0.00001, err);
  if (!alpha) return std::nullopt;
  const auto or_threshold = read_float_option(*options, "-or_cut", 2.0f, kAboveZero, err);
  if (!or_threshold) return std::nullopt;
  const auto threads = read_threads_option(*options, err);
  if (!threads) return std::nullopt;
  const auto device_index = read_int_option(*options, "-set_gpu", 0, err);
  if (!device_index) return std::nullopt;
  if (*alpha < 0.0 || *alpha > 1.0) {
    // The option the user gave first; then the words scripts have always read.
    err << "Error: " << alpha_option << " must be between 0 and 1 (got " << options->get(alpha_option)
        << "): chisq_cut must be between 0 and 1" << std::endl;
    return std::nullopt;
  }
  s.alpha = *alpha;
  s.or_threshold = *or_threshold;
  s.threads = *threads;
  s.device_index = *device_index;

  std::vector<NamedPath> inputs;
  for (const std::string& f : classify_genotype_path(s.case_path).files) inputs.push_back({"-file0", f});
  if (!s.split_by_phenotype())
    for (const std::string& f : classify_genotype_path(s.control_path).files) inputs.push_back({"-file1", f});
  if (!s.phenotype_path.empty()) inputs.push_back({"-pheno", s.phenotype_path});
  if (s.adjusted()) inputs.push_back({"-covar", s.covariate_path});
  std::vector<NamedPath> outputs{{"the run log", s.log_path}, {"-o", s.output}};
  for (const char* suffix : model.side_outputs)
    outputs.push_back({"a side output", side_output_path(s.output, suffix)});
  if (s.shard.on()) {
    outputs.push_back({"the shard's manifest", manifest_path(s.output)});
    outputs.push_back({"the shard's records", records_path(s.output)});
    outputs.push_back({"the shard's variant IDs", interaction_ids_path(s.output)});
  }
  if (!check_output_name({"-o", options->get("-o")}, err) || !check_input_files(inputs, err) ||
      !check_distinct_paths(inputs, outputs, {}, err))
    return std::nullopt;
  return s;
}

}  // namespace varpair
