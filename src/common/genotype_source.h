// Every genotype input goes through one interface: a text table, a PLINK 1 binary fileset or a
// VCF/BCF file, chosen by the file's name. A source tells its samples (with IDs and phenotypes where
// the format has them) and reads its variants straight into packed rows (packed_genotypes.h) for
// any selection of samples, and of one chromosome where the format has chromosomes.
//
//   NAME.bed, or a bare PREFIX whose PREFIX.bed exists   PLINK 1 fileset (.bed/.bim/.fam)
//   NAME.vcf, NAME.vcf.gz, NAME.vcf.bgz, NAME.bcf        VCF or BCF, read with htslib
//   anything else                                        text table (table_scan.h), once its first
//                                                        bytes show it is not one of the others
// Extensions are matched without regard to case.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/packed_genotypes.h"

namespace varpair {

enum class GenotypeFormat { kText, kPlink, kVcf };

// The format a path names, and the files it stands for (a fileset's three).
struct GenotypePath {
  GenotypeFormat format;
  std::vector<std::string> files;
};
GenotypePath classify_genotype_path(const std::string& path);

struct SampleId {
  std::string family;      // PLINK's FID; empty for VCF
  std::string individual;  // PLINK's IID, or the VCF sample name
};

// Phenotypes as PLINK codes them: 2 case, 1 control; anything else is none.
enum class Phenotype : std::uint8_t { kNone = 0, kControl = 1, kCase = 2 };
Phenotype phenotype_of(const std::string& text);

class GenotypeSource {
 public:
  // Opens the source a path names; throws InputError naming the file and what is wrong.
  static std::unique_ptr<GenotypeSource> open(const std::string& path);
  virtual ~GenotypeSource() = default;

  virtual GenotypeFormat format() const = 0;
  virtual std::int32_t samples() const = 0;
  // Empty for a text table, whose samples are matched by position.
  virtual const std::vector<SampleId>& sample_ids() const = 0;
  // Empty when the format carries none (text, VCF).
  virtual const std::vector<Phenotype>& phenotypes() const = 0;
  // The phenotype fields as written (a fileset's .fam sixth column); empty when the format has none.
  virtual std::vector<std::string> phenotype_fields() const { return {}; }

  // Reads the variants (only those of `chromosome` unless it is empty) for the selected samples.
  // Throws InputError when the chromosome is absent or the file is damaged.
  virtual PackedGenotypes read(const SampleSelection& selection, const std::string& chromosome) = 0;

  // What the reading left out, for the run log ("3 multi-allelic sites skipped"); empty when nothing.
  virtual std::vector<std::string> notes() const { return {}; }
};

// A run-log warning when variants of `path` share an ID ("Warning: PATH: 2 variants repeat the ID of
// an earlier one ..."), naming the first such ID and both positions; empty when every ID is its own.
// The tables then tell such variants apart by SNP0 and SNP1 only.
std::string repeated_id_warning(const std::vector<std::string>& ids, const std::string& path);

// The chromosome names of a fileset or VCF compare without a leading "chr" ("chr1" is "1").
bool same_chromosome(const std::string& a, const std::string& b);

std::unique_ptr<GenotypeSource> open_text_source(const std::string& path);
std::unique_ptr<GenotypeSource> open_plink_source(const std::string& prefix);
// The fileset of its three files (.bed, .bim, .fam) as classify_genotype_path names them.
std::unique_ptr<GenotypeSource> open_plink_fileset(const std::vector<std::string>& files);
std::unique_ptr<GenotypeSource> open_vcf_source(const std::string& path);

}  // namespace varpair
