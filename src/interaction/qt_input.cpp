#include "interaction/qt_input.h"

#include <cerrno>
#include <cmath>
#include <fstream>
#include <iomanip>
#include <limits>
#include <optional>

#include "common/covariates.h"
#include "common/errors.h"
#include "common/mapped_file.h"
#include "common/genotype_source.h"
#include "common/table_scan.h"

namespace varpair {

namespace {

constexpr double kMissing = std::numeric_limits<double>::quiet_NaN();

// The .fam's sixth column as numbers: -9, NA and . missing. A column of 1s and 2s is a case/control
// phenotype, which this command would read as a trait without saying so.
std::vector<std::vector<double>> fam_trait(const GenotypeSource& source, const std::string& fam) {
  const std::vector<std::string> fields = source.phenotype_fields();
  std::vector<double> values(fields.size(), kMissing);
  bool binary = true;
  std::size_t present = 0;
  for (std::size_t s = 0; s < fields.size(); ++s) {
    const double v = values[s] = read_value(fields[s], fam + ": line " + std::to_string(s + 1) + ", column 6");
    if (std::isnan(v)) continue;
    ++present;
    binary = binary && (v == 1.0 || v == 2.0);
  }
  if (present > 0 && binary)
    throw InputError(fam + ": the phenotype looks binary (every value is 1 or 2: controls and cases); "
                     "qt_interaction tests quantitative traits: for a case/control phenotype run genotype_interaction, "
                     "mdr_interaction, domrec_interaction or boost_interaction");
  return {values};
}

class QtReader {
 public:
  QtReader(const InteractionSettings& s, RunLog& log, CaseControlInput& in, SampleValues& values)
      : s_(s), log_(log), in_(in), values_(values) {}

  void read() {
    log_ << "Reading genotypes (file0): " << s_.case_path << eol;
    const GenotypePath path = classify_genotype_path(s_.case_path);
    if (path.format == GenotypeFormat::kText) return read_text_table();
    const auto source = GenotypeSource::open(s_.case_path);
    std::vector<std::vector<double>> traits;  // trait x sample of the source
    if (!s_.phenotype_path.empty()) {
      const CovariateFile file = CovariateFile::read(s_.phenotype_path, s_.phenotype_names, "phenotype");
      const std::vector<std::int32_t> rows = file.matched_rows(*source);
      values_.trait_names = file.names();
      traits.assign(file.columns(), std::vector<double>(static_cast<std::size_t>(source->samples()), kMissing));
      for (std::size_t s = 0; s < rows.size(); ++s)
        if (rows[s] >= 0)
          for (std::size_t t = 0; t < file.columns(); ++t) traits[t][s] = file.row(rows[s])[t];
    } else {
      if (path.format != GenotypeFormat::kPlink)
        throw InputError(s_.case_path + ": a VCF carries no phenotypes; give them with -pheno FILE");
      traits = fam_trait(*source, path.files.back());
      values_.trait_names = {"PHENO"};
    }
    if (traits.size() > static_cast<std::size_t>(kMaxTraits))
      throw InputError(s_.phenotype_path + " has " + std::to_string(traits.size()) + " traits; a run tests at most " +
                       std::to_string(kMaxTraits) + ": choose them with -pheno_name");
    std::optional<CovariateFile> covariates;
    std::vector<std::int32_t> covariate_rows;
    if (s_.adjusted()) {
      covariates = CovariateFile::read(s_.covariate_path, s_.covariate_names);
      if (covariates->columns() > static_cast<std::size_t>(kMaxCovariates))
        throw InputError(s_.covariate_path + " has " + std::to_string(covariates->columns()) +
                         " covariates; a run adjusts for at most " + std::to_string(kMaxCovariates) +
                         ": choose them with -covar_name");
      covariate_rows = covariates->complete_rows(*source);
      values_.covariate_names = covariates->names();
      std::string names;
      for (const std::string& n : covariates->names()) names += (names.empty() ? "" : ", ") + n;
      log_ << "Covariates from " << s_.covariate_path << ": " << covariates->columns() << " (" << names << ")" << eol;
    }
    // The samples used: every covariate and at least one trait value.
    std::vector<std::int32_t> used;
    std::int32_t without_covariates = 0;
    for (std::int32_t s = 0; s < source->samples(); ++s) {
      if (covariates && covariate_rows[static_cast<std::size_t>(s)] < 0) {
        ++without_covariates;
        continue;
      }
      bool any = false;
      for (const auto& trait : traits) any = any || !std::isnan(trait[static_cast<std::size_t>(s)]);
      if (any) used.push_back(s);
    }
    if (covariates)
      log_ << "Samples without a complete covariate row, left out: " << without_covariates << eol;
    const std::size_t parameters = 4 + values_.covariate_names.size();
    for (std::size_t t = 0; t < traits.size(); ++t) {
      std::size_t n = 0;
      for (const std::int32_t s : used) n += !std::isnan(traits[t][static_cast<std::size_t>(s)]);
      log_ << "Trait " << values_.trait_names[t] << ": " << n << " samples with a value" << eol;
      if (n <= parameters)
        throw InputError("the trait " + values_.trait_names[t] + " has " + std::to_string(n) +
                         " samples with a value (and every covariate), too few for a fit of " +
                         std::to_string(parameters) + " parameters");
    }
    PackedGenotypes packed = source->read(select_listed(used), "");
    in_.cases = build_genotype_masks(packed);
    in_.controls.rows = 0;
    in_.ids = std::move(packed.variant_ids);
    for (const std::string& note : source->notes()) log_ << "  " << s_.case_path << ": " << note << eol;
    if (const std::string repeated = repeated_id_warning(in_.ids, s_.case_path); !repeated.empty())
      log_ << repeated << eol;
    const std::string warning =
        check_calls(genotyped_calls(in_.cases), in_.cases.rows, in_.cases.samples, s_.case_path);
    log_ << "Genotypes: " << in_.cases.rows << " SNPs, " << in_.cases.samples << " samples used" << eol;
    if (!warning.empty()) log_ << warning << eol;
    for (const auto& trait : traits) {
      values_.traits.emplace_back();
      for (const std::int32_t s : used) values_.traits.back().push_back(trait[static_cast<std::size_t>(s)]);
    }
    for (std::size_t c = 0; c < values_.covariate_names.size(); ++c) {
      values_.covariates.emplace_back();
      for (const std::int32_t s : used)
        values_.covariates.back().push_back(covariates->row(covariate_rows[static_cast<std::size_t>(s)])[c]);
    }
  }

 private:
  // A text table carries no sample IDs: its trait comes from -pheno, one value a line in the
  // table's sample order.
  void read_text_table() {
    if (s_.phenotype_path.empty())
      throw InputError(s_.case_path + ": a text table carries no phenotypes; give them with -pheno FILE, one value "
                                      "a line in the table's sample order");
    if (!s_.phenotype_names.empty())
      throw InputError(s_.phenotype_path + ": with a text table -pheno is one value a line, without names: "
                                           "-pheno_name does not apply");
    MappedFile file(s_.case_path);
    check_text_table(file.data(), file.size(), s_.case_path);
    in_.cases = build_genotype_masks(file);
    require_genotypes(TableShape{in_.cases.rows, in_.cases.samples, {}}, s_.case_path);
    in_.controls.rows = 0;
    std::ifstream pheno(s_.phenotype_path);
    if (!pheno.is_open()) throw InputError("cannot read " + s_.phenotype_path + reason(errno));
    std::vector<double> trait;
    std::string line;
    for (std::size_t number = 1; std::getline(pheno, line); ++number) {
      const std::size_t first = line.find_first_not_of(" \t\r");
      const std::size_t last = line.find_last_not_of(" \t\r");
      const std::string value = first == std::string::npos ? "" : line.substr(first, last + 1 - first);
      trait.push_back(read_value(value, s_.phenotype_path + ": line " + std::to_string(number)));
    }
    if (trait.size() != static_cast<std::size_t>(in_.cases.samples))
      throw InputError(s_.phenotype_path + " holds " + std::to_string(trait.size()) + " values, " + s_.case_path +
                       " " + std::to_string(in_.cases.samples) + " samples: a text table's traits are one value a "
                       "line, in its sample order");
    std::size_t n = 0;
    for (const double v : trait) n += !std::isnan(v);
    log_ << "Trait PHENO: " << n << " samples with a value" << eol;
    if (n <= 4)
      throw InputError("the trait PHENO has " + std::to_string(n) + " samples with a value, too few for a fit of 4 "
                       "parameters");
    const std::string warning =
        check_calls(genotyped_calls(in_.cases), in_.cases.rows, in_.cases.samples, s_.case_path);
    log_ << "Genotypes: " << in_.cases.rows << " SNPs, " << in_.cases.samples << " samples used" << eol;
    if (!warning.empty()) log_ << warning << eol;
    values_.trait_names = {"PHENO"};
    values_.traits = {std::move(trait)};
  }

  const InteractionSettings& s_;
  RunLog& log_;
  CaseControlInput& in_;
  SampleValues& values_;
};

}  // namespace

bool read_qt_input(const InteractionSettings& s, RunLog& log, TimerRegistry& timers, CaseControlInput& in,
                   SampleValues& values) {
  timers.start("file_reading");
  try {
    QtReader(s, log, in, values).read();
  } catch (const std::exception& e) {
    log << "Error reading the inputs: " << e.what() << eol;
    return false;
  }
  timers.stop("file_reading");
  log << "File reading time: " << std::fixed << std::setprecision(3) << timers.seconds("file_reading") << " seconds"
      << eol;
  return true;
}

}  // namespace varpair
