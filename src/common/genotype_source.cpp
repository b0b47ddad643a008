#include "common/genotype_source.h"

#include <sys/stat.h>

#include <cctype>
#include <string_view>
#include <unordered_map>

#include "common/errors.h"
#include "common/mapped_file.h"
#include "common/table_scan.h"

namespace varpair {

namespace {

// Extensions are matched without regard to case (GATK.VCF, STUDY.BED).
bool ends_with(const std::string& s, const std::string& suffix) {
  if (s.size() < suffix.size()) return false;
  for (std::size_t k = 0; k < suffix.size(); ++k)
    if (std::tolower(static_cast<unsigned char>(s[s.size() - suffix.size() + k])) != suffix[k]) return false;
  return true;
}

bool exists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

// The extension of a fileset part in the letter case of the .bed's own (".Bed" -> ".Bim"), so
// STUDY.BED's parts are STUDY.BIM and STUDY.FAM; where no such file exists, the lower-case and then
// the upper-case name that does, and the lower-case name for the error if none does.
std::string companion(const std::string& prefix, const std::string& bed_extension, const std::string& extension) {
  std::string matched = extension;
  for (std::size_t k = 1; k < matched.size() && k < bed_extension.size(); ++k)
    if (std::isupper(static_cast<unsigned char>(bed_extension[k])))
      matched[k] = static_cast<char>(std::toupper(static_cast<unsigned char>(matched[k])));
  std::string upper = extension;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (const std::string& candidate : {matched, extension, upper})
    if (exists(prefix + candidate)) return prefix + candidate;
  return prefix + extension;
}

// A text table: its samples are its columns, matched by position.
class TextSource : public GenotypeSource {
 public:
  explicit TextSource(const std::string& path) : path_(path), file_(path) {
    check_text_table(file_.data(), file_.size(), path);
    shape_ = scan_table(file_.data(), file_.size());
    require_genotypes(shape_, path);
  }
  GenotypeFormat format() const override { return GenotypeFormat::kText; }
  std::int32_t samples() const override { return shape_.columns; }
  const std::vector<SampleId>& sample_ids() const override { return no_ids_; }
  const std::vector<Phenotype>& phenotypes() const override { return no_phenotypes_; }

  PackedGenotypes read(const SampleSelection& selection, const std::string& chromosome) override {
    if (!chromosome.empty()) throw InputError("A text table has no chromosomes: " + path_);
    if (!selection.all) throw InputError("A text table's samples are matched by position: " + path_);
    PackedGenotypes g;
    g.rows = shape_.rows;
    g.samples = shape_.columns;
    g.stride = packed_stride(shape_.columns);
    g.data = pack_text_rows(file_.data(), file_.size(), shape_, g.stride);
    return g;
  }

 private:
  std::string path_;
  MappedFile file_;
  TableShape shape_;
  std::vector<SampleId> no_ids_;
  std::vector<Phenotype> no_phenotypes_;
};

GenotypePath plink_parts(const std::string& prefix, const std::string& bed_extension) {
  return {GenotypeFormat::kPlink,
          {prefix + bed_extension, companion(prefix, bed_extension, ".bim"), companion(prefix, bed_extension, ".fam")}};
}

}  // namespace

GenotypePath classify_genotype_path(const std::string& path) {
  if (ends_with(path, ".vcf") || ends_with(path, ".vcf.gz") || ends_with(path, ".vcf.bgz") || ends_with(path, ".bcf"))
    return {GenotypeFormat::kVcf, {path}};
  if (ends_with(path, ".bed")) return plink_parts(path.substr(0, path.size() - 4), path.substr(path.size() - 4));
  // A bare prefix names the fileset when no file has that name.
  if (!exists(path) && (exists(path + ".bed") || exists(path + ".BED")))
    return plink_parts(path, exists(path + ".bed") ? ".bed" : ".BED");
  return {GenotypeFormat::kText, {path}};
}

Phenotype phenotype_of(const std::string& text) {
  if (text == "2") return Phenotype::kCase;
  if (text == "1") return Phenotype::kControl;
  return Phenotype::kNone;
}

std::string repeated_id_warning(const std::vector<std::string>& ids, const std::string& path) {
  std::unordered_map<std::string_view, std::size_t> first_at;
  first_at.reserve(ids.size());
  std::size_t repeats = 0, example = 0, earlier = 0;
  for (std::size_t k = 0; k < ids.size(); ++k) {
    const auto [at, fresh] = first_at.emplace(ids[k], k);
    if (fresh) continue;
    if (repeats++ == 0) example = k, earlier = at->second;
  }
  if (repeats == 0) return "";
  return "Warning: " + path + ": " + std::to_string(repeats) +
         (repeats == 1 ? " variant repeats" : " variants repeat") + " the ID of an earlier one (" + ids[example] +
         " is variant " + std::to_string(earlier) + " and " + std::to_string(example) +
         "); ID0 and ID1 do not tell them apart, SNP0 and SNP1 do";
}

bool same_chromosome(const std::string& a, const std::string& b) {
  auto bare = [](const std::string& c) {
    return c.size() > 3 && (c.compare(0, 3, "chr") == 0 || c.compare(0, 3, "Chr") == 0 || c.compare(0, 3, "CHR") == 0)
               ? c.substr(3)
               : c;
  };
  return bare(a) == bare(b);
}

std::unique_ptr<GenotypeSource> GenotypeSource::open(const std::string& path) {
  const GenotypePath kind = classify_genotype_path(path);
  switch (kind.format) {
    case GenotypeFormat::kPlink: return open_plink_fileset(kind.files);
    case GenotypeFormat::kVcf: return open_vcf_source(path);
    case GenotypeFormat::kText: break;
  }
  return open_text_source(path);
}

std::unique_ptr<GenotypeSource> open_text_source(const std::string& path) { return std::make_unique<TextSource>(path); }

}  // namespace varpair
