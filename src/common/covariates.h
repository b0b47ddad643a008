// A covariate file (-covar), read as PLINK 2 reads one: whitespace-separated columns; a first line
// that starts with #FID, FID, #IID or IID names them (FID IID or IID, then the covariates); without
// one the columns are FID IID COV1 COV2 ... Values are decimal numbers that double precision holds;
// NA, . and -9 are missing (kept as NaN). The same reader reads -pheno's quantitative traits. Samples
// are matched by ID as -pheno matches them: FID and IID for a PLINK fileset when the file has both,
// the IID (or VCF sample name) otherwise.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/genotype_source.h"

namespace varpair {

// One value of a phenotype or covariate file: NaN for a missing one (NA, . or -9), else a number in
// decimal notation that double precision holds (not 0x10, inf or nan). Throws InputError starting
// with `where` (the file, line and column) otherwise.
double read_value(const std::string& token, const std::string& where);

class CovariateFile {
 public:
  // Reads the file and keeps the named columns (`keep`; empty: all), in the file's order. Throws
  // InputError naming the file, the line and the column of anything that is not a number or a
  // missing value, a named column the header lacks, two columns of one name, a line of the wrong
  // length and an ID that appears twice.
  // `kind` names the columns in messages ("covariate", "phenotype").
  static CovariateFile read(const std::string& path, const std::vector<std::string>& keep,
                            const char* kind = "covariate");

  const std::vector<std::string>& names() const { return names_; }
  std::size_t columns() const { return names_.size(); }
  const std::string& path() const { return path_; }

  // For each sample of `source`: its row in the file when every kept value is present, else -1
  // (not in the file, or a value missing). Throws InputError when a sample's ID is ambiguous (two
  // lines of the same IID, matched by IID alone).
  std::vector<std::int32_t> complete_rows(const GenotypeSource& source) const;
  // For each sample of `source`: its row in the file, complete or not, else -1.
  std::vector<std::int32_t> matched_rows(const GenotypeSource& source) const;
  // The kept values of row `r`.
  const double* row(std::int32_t r) const { return values_.data() + static_cast<std::size_t>(r) * names_.size(); }
  bool complete(std::int32_t r) const { return complete_[static_cast<std::size_t>(r)] != 0; }

 private:
  std::string path_;
  bool has_family_ = true;  // the rows carry FID and IID
  std::vector<std::string> names_;
  std::vector<SampleId> ids_;
  std::vector<double> values_;  // rows x names
  std::vector<unsigned char> complete_;
};

}  // namespace varpair
