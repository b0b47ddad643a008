// Which samples a run uses: the LD commands' two tables matched by sample ID, and the interaction
// commands' cases and controls taken from one fileset by phenotype.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/genotype_source.h"

namespace varpair {

struct SampleMatch {
  SampleSelection first, second;  // the common samples, in the first table's order
  bool by_id = false;             // false: both tables carry no IDs or one lacks them (by position)
  std::int32_t common = 0;
  std::int32_t left_out_first = 0, left_out_second = 0;
};

// Matches by ID when both sources carry sample IDs (FID and IID between two PLINK filesets, the
// IID or sample name otherwise); by position otherwise. Throws InputError when no sample is common
// or an ID appears twice.
SampleMatch match_samples(const GenotypeSource& first, const std::string& first_path, const GenotypeSource& second,
                          const std::string& second_path);

// Phenotypes from a -pheno file ("FID IID PHENO" or "IID PHENO" lines, 2 case, 1 control, anything
// else none; a first line whose phenotype is no number is a header): one a sample of `source`,
// kNone for the samples the file does not list. Throws InputError when no line matches a sample
// and when a sample is listed twice.
std::vector<Phenotype> read_phenotype_file(const std::string& path, const GenotypeSource& source,
                                           const std::string& source_path, std::int32_t& unmatched_lines);

struct CaseControlSplit {
  SampleSelection cases, controls;
  std::int32_t left_out = 0;  // samples with no phenotype of 1 or 2
};

// Cases (2) and controls (1) in the source's order. Throws InputError naming `phenotype_path` (the
// file the phenotypes came from) when either set is empty.
CaseControlSplit split_by_phenotype(const std::vector<Phenotype>& phenotypes, const std::string& phenotype_path);

}  // namespace varpair
