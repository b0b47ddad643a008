// PLINK 1 binary filesets: .fam (samples), .bim (variants), .bed (variant-major genotypes, two bits
// a sample: 00 two copies of the .bim's fifth-column allele A1, 10 one, 11 none, 01 missing).
#include <algorithm>
#include <cstring>
#include <map>

#include "common/errors.h"
#include "common/genotype_source.h"
#include "common/mapped_file.h"
#include "common/worker_pool.h"

namespace varpair {

namespace {

// The whitespace-separated fields of each line of a mapped text file (blank lines skipped), with
// the line numbers; `wanted` fields at least.
struct Lines {
  std::vector<std::vector<std::string>> fields;
  std::vector<std::uint64_t> numbers;
};

Lines read_fields(const std::string& path, std::size_t wanted, std::size_t kept, const char* what) {
  MappedFile file(path);
  Lines lines;
  const char* p = file.data();
  const char* end = p + file.size();
  std::uint64_t number = 0;
  while (p < end) {
    const char* eol = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
    if (eol == nullptr) eol = end;
    ++number;
    std::vector<std::string> fields;
    for (const char* q = p; q < eol;) {
      while (q < eol && (*q == ' ' || *q == '\t' || *q == '\r')) ++q;
      const char* start = q;
      while (q < eol && *q != ' ' && *q != '\t' && *q != '\r') ++q;
      if (q > start && fields.size() < kept)
        fields.emplace_back(start, q);
      else if (q > start)
        fields.emplace_back();  // counted, not kept
    }
    if (!fields.empty()) {
      if (fields.size() < wanted)
        throw InputError(path + ": line " + std::to_string(number) + " has " + std::to_string(fields.size()) +
                         " fields; a " + what + " line has " + std::to_string(wanted));
      fields.resize(std::min(fields.size(), kept));
      lines.fields.push_back(std::move(fields));
      lines.numbers.push_back(number);
    }
    p = eol + 1;
  }
  return lines;
}

// Our codes from the .bed's: 00 -> 2, 01 -> 3 (missing), 10 -> 1, 11 -> 0. With lo and hi the two
// bits of a code: lo' = lo ^ hi, hi' = ~hi.
inline std::uint64_t our_codes(std::uint64_t bed) {
  constexpr std::uint64_t kEven = 0x5555555555555555ULL;
  const std::uint64_t lo = bed & kEven, hi = (bed >> 1) & kEven;
  return (lo ^ hi) | ((~hi & kEven) << 1);
}

class PlinkSource : public GenotypeSource {
 public:
  PlinkSource(const std::string& bed, const std::string& bim, const std::string& fam)
      : bed_path_(bed), bim_path_(bim), fam_path_(fam) {
    read_fam();
    read_bim();
    bed_ = std::make_unique<MappedFile>(bed_path_);
    check_bed();
  }

  GenotypeFormat format() const override { return GenotypeFormat::kPlink; }
  std::int32_t samples() const override { return static_cast<std::int32_t>(ids_.size()); }
  const std::vector<SampleId>& sample_ids() const override { return ids_; }
  const std::vector<Phenotype>& phenotypes() const override { return phenotypes_; }
  std::vector<std::string> phenotype_fields() const override { return phenotype_fields_; }

  PackedGenotypes read(const SampleSelection& selection, const std::string& chromosome) override {
    std::vector<std::int32_t> variants;
    for (std::size_t v = 0; v < chromosomes_.size(); ++v)
      if (chromosome.empty() || same_chromosome(chromosomes_[v], chromosome))
        variants.push_back(static_cast<std::int32_t>(v));
    if (variants.empty())
      throw InputError(bim_path_ + ": no variant is on chromosome " + chromosome + " (the fileset has " +
                       chromosome_list() + ")");
    PackedGenotypes g;
    g.rows = static_cast<std::int32_t>(variants.size());
    g.samples = selection.count(samples());
    g.stride = packed_stride(g.samples);
    g.data = allocate_host_bytes(static_cast<std::size_t>(g.rows) * g.stride);
    g.variant_ids.reserve(variants.size());
    for (std::int32_t v : variants) g.variant_ids.push_back(variant_ids_[static_cast<std::size_t>(v)]);
    const auto* bed = reinterpret_cast<const std::uint8_t*>(bed_->data()) + 3;
    for_each_row_chunk(g.rows, [&](std::int32_t first, std::int32_t end) {
      std::vector<std::uint8_t> row(row_bytes_ + 8);
      for (std::int32_t r = first; r < end; ++r) {
        translate_row(bed + static_cast<std::uint64_t>(variants[static_cast<std::size_t>(r)]) * row_bytes_, row.data());
        select_samples(row.data(), samples(), selection, g.row(r));
      }
    });
    return g;
  }

 private:
  void read_fam() {
    const Lines lines = read_fields(fam_path_, 6, 6, ".fam");
    if (lines.fields.empty()) throw InputError(fam_path_ + ": the fileset has no samples");
    std::map<std::pair<std::string, std::string>, std::uint64_t> seen;
    for (std::size_t k = 0; k < lines.fields.size(); ++k) {
      const auto& f = lines.fields[k];
      const auto [it, fresh] = seen.emplace(std::pair{f[0], f[1]}, lines.numbers[k]);
      if (!fresh)
        throw InputError(fam_path_ + ": sample " + f[0] + " " + f[1] + " appears twice (lines " +
                         std::to_string(it->second) + " and " + std::to_string(lines.numbers[k]) + ")");
      ids_.push_back(SampleId{f[0], f[1]});
      phenotypes_.push_back(phenotype_of(f[5]));
      phenotype_fields_.push_back(f[5]);
    }
    if (ids_.size() > 0x7fffffffu) throw InputError(fam_path_ + ": too many samples");
  }

  void read_bim() {
    const Lines lines = read_fields(bim_path_, 6, 2, ".bim");
    if (lines.fields.empty()) throw InputError(bim_path_ + ": the fileset has no variants");
    if (lines.fields.size() > 0x7fffffffu) throw InputError(bim_path_ + ": too many variants");
    for (const auto& f : lines.fields) {
      chromosomes_.push_back(f[0]);
      variant_ids_.push_back(f[1]);
    }
  }

  void check_bed() {
    const auto* b = reinterpret_cast<const std::uint8_t*>(bed_->data());
    if (bed_->size() < 3 || b[0] != 0x6c || b[1] != 0x1b)
      throw InputError(bed_path_ + ": not a PLINK .bed file (it does not start with the bytes 6c 1b)");
    if (b[2] != 0x01)
      throw InputError(bed_path_ + ": a sample-major .bed file (mode byte " + std::to_string(b[2]) +
                       "), which varpair does not read; PLINK 1.9 writes variant-major ones");
    row_bytes_ = packed_stride(samples());
    const std::uint64_t expected = 3 + chromosomes_.size() * row_bytes_;
    if (bed_->size() != expected)
      throw InputError(bed_path_ + ": holds " + std::to_string(bed_->size()) + " bytes, but the .bim's " +
                       std::to_string(chromosomes_.size()) + " variants and the .fam's " + std::to_string(samples()) +
                       " samples need " + std::to_string(expected) +
                       (bed_->size() < expected ? " (the file is cut short)" : ""));
  }

  // One variant's bytes in our codes, eight bytes at a time.
  void translate_row(const std::uint8_t* source, std::uint8_t* out) const {
    std::uint64_t b = 0;
    for (; b + 8 <= row_bytes_; b += 8) {
      std::uint64_t w;
      std::memcpy(&w, source + b, 8);
      w = our_codes(w);
      std::memcpy(out + b, &w, 8);
    }
    if (b < row_bytes_) {
      std::uint64_t w = 0;
      std::memcpy(&w, source + b, row_bytes_ - b);
      w = our_codes(w);
      std::memcpy(out + b, &w, row_bytes_ - b);
    }
  }

  std::string chromosome_list() const {
    std::vector<std::string> names;
    for (const std::string& c : chromosomes_)
      if (names.empty() || names.back() != c) names.push_back(c);
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    std::string text;
    for (std::size_t k = 0; k < names.size() && k < 30; ++k) text += (k ? ", " : "chromosomes ") + names[k];
    if (names.size() > 30) text += ", ...";
    return text;
  }

  std::string bed_path_, bim_path_, fam_path_;
  std::vector<std::string> phenotype_fields_;
  std::vector<SampleId> ids_;
  std::vector<Phenotype> phenotypes_;
  std::vector<std::string> chromosomes_, variant_ids_;
  std::unique_ptr<MappedFile> bed_;
  std::uint64_t row_bytes_ = 0;
};

}  // namespace

std::unique_ptr<GenotypeSource> open_plink_source(const std::string& prefix) {
  return std::make_unique<PlinkSource>(prefix + ".bed", prefix + ".bim", prefix + ".fam");
}

std::unique_ptr<GenotypeSource> open_plink_fileset(const std::vector<std::string>& files) {
  return std::make_unique<PlinkSource>(files.at(0), files.at(1), files.at(2));
}

}  // namespace varpair
