// Reading the case and control tables of an interaction run into genotype masks.
#include "interaction/case_control_input.h"

#include <iomanip>
#include <optional>

#include "common/covariates.h"
#include "common/errors.h"
#include "common/genotype_source.h"
#include "common/mapped_file.h"
#include "common/sample_matching.h"
#include "common/table_scan.h"

namespace varpair {

namespace {

struct TableTexts {
  const char* reading;  // "Reading case file (file0): "
  const char* done;     // "Case file: "
  const char* error;    // "Error reading case file: "
};

class Reader {
 public:
  Reader(const InteractionCommand& command, const InteractionSettings& settings, RunLog& log, CaseControlInput& in)
      : command_(command), s_(settings), log_(log), in_(in) {}

  bool read_covariates();
  bool read_table(const TableTexts& texts, const std::string& path, MaskStore& store, std::vector<std::string>& ids,
                  std::vector<double>& covariates);
  bool read_split();
  void report_left_out();

 private:
  // The samples of `selection` that have a complete covariate row (all of them without -covar),
  // their rows appended to `rows`; `left_out` counts the others.
  SampleSelection with_covariates(const GenotypeSource& source, SampleSelection selection, std::vector<double>& rows,
                                  std::int32_t& left_out) const;

  const InteractionCommand& command_;
  const InteractionSettings& s_;
  RunLog& log_;
  CaseControlInput& in_;
  std::optional<CovariateFile> covariates_;
  std::int32_t left_out_cases_ = 0, left_out_controls_ = 0;
};

bool Reader::read_covariates() {
  if (!s_.adjusted()) return true;
  try {
    covariates_ = CovariateFile::read(s_.covariate_path, s_.covariate_names);
  } catch (const std::exception& e) {
    log_ << "Error reading the covariate file: " << e.what() << eol;
    return false;
  }
  in_.covariate_names = covariates_->names();
  std::string names;
  for (const std::string& n : covariates_->names()) names += (names.empty() ? "" : ", ") + n;
  log_ << "Covariates from " << s_.covariate_path << ": " << covariates_->columns() << " (" << names << ")" << eol;
  return true;
}

SampleSelection Reader::with_covariates(const GenotypeSource& source, SampleSelection selection,
                                        std::vector<double>& rows, std::int32_t& left_out) const {
  if (!covariates_) return selection;
  const std::vector<std::int32_t> row_of = covariates_->complete_rows(source);
  std::vector<std::int32_t> kept;
  const std::int32_t total = selection.count(source.samples());
  for (std::int32_t k = 0; k < total; ++k) {
    const std::int32_t s = selection.all ? k : selection.samples[static_cast<std::size_t>(k)];
    const std::int32_t r = row_of[static_cast<std::size_t>(s)];
    if (r < 0) continue;
    kept.push_back(s);
    rows.insert(rows.end(), covariates_->row(r), covariates_->row(r) + covariates_->columns());
  }
  left_out += total - static_cast<std::int32_t>(kept.size());
  if (kept.empty())
    throw InputError("none of its " + std::to_string(total) + " samples has a complete row in " + s_.covariate_path +
                     " (samples are matched by ID, as -pheno matches them)");
  return select_listed(std::move(kept));
}

// With -covar: how many samples had no complete row.
void Reader::report_left_out() {
  if (!covariates_) return;
  log_ << "Samples without a complete covariate row, left out: " << left_out_cases_ << " cases, " << left_out_controls_
       << " controls" << eol;
}

bool Reader::read_table(const TableTexts& texts, const std::string& path, MaskStore& store,
                        std::vector<std::string>& ids, std::vector<double>& covariates) {
  log_ << texts.reading << path << eol;
  try {
    if (classify_genotype_path(path).format == GenotypeFormat::kText) {
      MappedFile file(path);
      check_text_table(file.data(), file.size(), path);
      store = build_genotype_masks(file);
      require_genotypes(TableShape{store.rows, store.samples, {}}, path);
    } else {
      const auto source = GenotypeSource::open(path);
      const SampleSelection selection = with_covariates(*source, SampleSelection{}, covariates,
                                                        &store == &in_.cases ? left_out_cases_ : left_out_controls_);
      PackedGenotypes packed = source->read(selection, "");
      store = build_genotype_masks(packed);
      ids = std::move(packed.variant_ids);
      for (const std::string& note : source->notes()) log_ << "  " << path << ": " << note << eol;
      // Once: the controls' variants must be the cases'.
      const std::string repeated = &store == &in_.cases ? repeated_id_warning(ids, path) : "";
      if (!repeated.empty()) log_ << repeated << eol;
    }
    const std::string warning = check_calls(genotyped_calls(store), store.rows, store.samples, path);
    log_ << texts.done << store.rows << " SNPs, " << store.samples << " samples" << eol;
    if (!warning.empty()) log_ << warning << eol;
    return true;
  } catch (const std::exception& e) {
    if (command_.read_errors_escape) throw;
    log_ << texts.error << e.what() << eol;
    return false;
  }
}

// Cases and controls of one fileset or VCF, told apart by phenotype.
bool Reader::read_split() {
  log_ << "Reading case file (file0): " << s_.case_path << eol;
  try {
    const auto source = GenotypeSource::open(s_.case_path);
    std::int32_t unmatched = 0;
    std::vector<Phenotype> phenotypes = source->phenotypes();
    if (!s_.phenotype_path.empty())
      phenotypes = read_phenotype_file(s_.phenotype_path, *source, s_.case_path, unmatched);
    else if (phenotypes.empty())
      throw InputError(s_.case_path + ": a VCF carries no phenotypes; give them with -pheno FILE");
    const CaseControlSplit split = split_by_phenotype(
        phenotypes, s_.phenotype_path.empty() ? classify_genotype_path(s_.case_path).files.back() : s_.phenotype_path);
    log_ << "Cases and controls by the phenotypes of "
         << (s_.phenotype_path.empty() ? "the .fam file" : s_.phenotype_path) << ": " << split.cases.samples.size()
         << " cases, " << split.controls.samples.size() << " controls; " << split.left_out
         << " samples without phenotype 1 or 2 left out" << eol;
    if (unmatched > 0) log_ << "  " << unmatched << " lines of " << s_.phenotype_path << " name no sample" << eol;
    const SampleSelection cases = with_covariates(*source, split.cases, in_.case_covariates, left_out_cases_);
    const SampleSelection controls =
        with_covariates(*source, split.controls, in_.control_covariates, left_out_controls_);
    PackedGenotypes packed = source->read(cases, "");
    in_.cases = build_genotype_masks(packed);
    const std::string case_warning =
        check_calls(genotyped_calls(in_.cases), in_.cases.rows, in_.cases.samples, "the cases of " + s_.case_path);
    log_ << "Case file: " << in_.cases.rows << " SNPs, " << in_.cases.samples << " samples" << eol;
    if (!case_warning.empty()) log_ << case_warning << eol;
    in_.ids = std::move(packed.variant_ids);
    packed = source->read(controls, "");
    in_.controls = build_genotype_masks(packed);
    const std::string control_warning = check_calls(genotyped_calls(in_.controls), in_.controls.rows,
                                                    in_.controls.samples, "the controls of " + s_.case_path);
    log_ << "Control file: " << in_.controls.rows << " SNPs, " << in_.controls.samples << " samples" << eol;
    if (!control_warning.empty()) log_ << control_warning << eol;
    for (const std::string& note : source->notes()) log_ << "  " << s_.case_path << ": " << note << eol;
    if (const std::string repeated = repeated_id_warning(in_.ids, s_.case_path); !repeated.empty())
      log_ << repeated << eol;
    return true;
  } catch (const std::exception& e) {
    if (command_.read_errors_escape) throw;
    log_ << "Error reading case file: " << e.what() << eol;
    return false;
  }
}

}  // namespace

bool read_case_control(const InteractionCommand& command, const InteractionSettings& s, RunLog& log,
                       TimerRegistry& timers, CaseControlInput& in) {
  Reader reader(command, s, log, in);
  timers.start("file_reading");
  if (!reader.read_covariates()) return false;
  std::vector<std::string> control_ids;
  if (s.split_by_phenotype()) {
    if (!reader.read_split()) return false;
  } else {
    if (!reader.read_table({"Reading case file (file0): ", "Case file: ", "Error reading case file: "}, s.case_path,
                           in.cases, in.ids, in.case_covariates))
      return false;
    if (!reader.read_table({"Reading control file (file1): ", "Control file: ", "Error reading control file: "},
                           s.control_path, in.controls, control_ids, in.control_covariates))
      return false;
  }
  reader.report_left_out();
  timers.stop("file_reading");
  log << "File reading time: " << std::fixed << std::setprecision(3) << timers.seconds("file_reading") << " seconds"
      << eol;
  if (in.cases.rows != in.controls.rows) {
    log << command.snp_count_mismatch << eol;
    return false;
  }
  if (!in.ids.empty() && !control_ids.empty() && in.ids != control_ids) {
    std::size_t k = 0;
    while (in.ids[k] == control_ids[k]) ++k;
    log << "Error: The case and control tables hold other variants: line " << k + 1 << " is " << in.ids[k] << " in "
        << s.case_path << " and " << control_ids[k] << " in " << s.control_path << eol;
    return false;
  }
  if (in.ids.empty()) in.ids = std::move(control_ids);
  return true;
}

}  // namespace varpair
