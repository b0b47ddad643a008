// VCF and BCF through htslib: each site's GT calls give the count of its first ALT allele (0/0 ->
// 0, 0/1, 1/0 and phased forms -> 1, 1/1 -> 2, any missing allele -> missing). Sites with more than
// one ALT allele are skipped; calls that are not diploid, and calls naming an allele the site does
// not have (0/2 where ALT has one), are missing; the log says how many of each.
#include <htslib/hts.h>
#include <htslib/vcf.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "common/errors.h"
#include "common/genotype_source.h"

namespace varpair {

namespace {

// Owners of htslib's objects.
struct HtsFile {
  htsFile* file = nullptr;
  bcf_hdr_t* header = nullptr;
  bcf1_t* record = nullptr;
  int32_t* gt = nullptr;
  int gt_capacity = 0;
  ~HtsFile() {
    std::free(gt);
    if (record != nullptr) bcf_destroy(record);
    if (header != nullptr) bcf_hdr_destroy(header);
    if (file != nullptr) hts_close(file);
  }
};

// What htslib writes to standard error while alive (it gives its reasons nowhere else), taken
// away from the console: the reason for a message of ours.
class HtsMessages {
 public:
  HtsMessages() {
    std::fflush(stderr);
    file_ = std::tmpfile();
    saved_ = file_ != nullptr ? ::dup(STDERR_FILENO) : -1;
    if (saved_ >= 0 && ::dup2(fileno(file_), STDERR_FILENO) < 0) {
      ::close(saved_);
      saved_ = -1;
    }
  }
  ~HtsMessages() {
    restore();
    if (file_ != nullptr) std::fclose(file_);
  }
  // The messages, each without htslib's "[E::function] " and joined by "; ".
  std::string text() {
    restore();
    std::string all, line;
    if (file_ == nullptr) return all;
    std::rewind(file_);
    for (int c; (c = std::fgetc(file_)) != EOF;) {
      if (c != '\n') {
        line += static_cast<char>(c);
        continue;
      }
      const std::size_t close = line.find("] ");
      if (line.rfind("[", 0) == 0 && close != std::string::npos) line = line.substr(close + 2);
      if (!line.empty()) all += (all.empty() ? "" : "; ") + line;
      line.clear();
    }
    return all;
  }
  // htslib's warnings of a file that opened, shown as htslib wrote them.
  void replay() {
    restore();
    if (file_ == nullptr) return;
    std::rewind(file_);
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file_)) > 0;) std::fwrite(buffer, 1, n, stderr);
    std::fflush(stderr);
  }

 private:
  void restore() {
    if (saved_ < 0) return;
    std::fflush(stderr);
    ::dup2(saved_, STDERR_FILENO);
    ::close(saved_);
    saved_ = -1;
  }
  std::FILE* file_ = nullptr;
  int saved_ = -1;
};

class VcfSource : public GenotypeSource {
 public:
  explicit VcfSource(const std::string& path) : path_(path) {
    HtsFile f;
    open(f);
    const int n = bcf_hdr_nsamples(f.header);
    if (n <= 0) throw InputError(path_ + ": the file has no samples");
    std::map<std::string, int> seen;
    for (int s = 0; s < n; ++s) {
      const std::string name = f.header->samples[s];
      if (!seen.emplace(name, s).second) throw InputError(path_ + ": sample " + name + " appears twice");
      ids_.push_back(SampleId{"", name});
    }
  }

  GenotypeFormat format() const override { return GenotypeFormat::kVcf; }
  std::int32_t samples() const override { return static_cast<std::int32_t>(ids_.size()); }
  const std::vector<SampleId>& sample_ids() const override { return ids_; }
  const std::vector<Phenotype>& phenotypes() const override { return no_phenotypes_; }
  std::vector<std::string> notes() const override { return notes_; }

  PackedGenotypes read(const SampleSelection& selection, const std::string& chromosome) override {
    HtsFile f;
    open(f);
    f.record = bcf_init();
    PackedGenotypes g;
    g.samples = selection.count(samples());
    g.stride = packed_stride(g.samples);
    std::vector<std::uint8_t> all(packed_stride(samples()));
    std::vector<std::uint8_t> rows;
    std::uint64_t multiallelic = 0, sites = 0;
    CallCounts odd;
    int status = 0;
    while ((status = bcf_read(f.file, f.header, f.record)) == 0) {
      ++sites;
      if (!chromosome.empty() && !same_chromosome(bcf_seqname(f.header, f.record), chromosome)) continue;
      bcf_unpack(f.record, BCF_UN_STR | BCF_UN_FMT);
      if (f.record->n_allele > 2) {
        ++multiallelic;
        continue;
      }
      codes_of_site(f, all.data(), odd);
      rows.resize(rows.size() + g.stride);
      select_samples(all.data(), samples(), selection, rows.data() + rows.size() - g.stride);
      g.variant_ids.push_back(variant_id(f));
    }
    if (status < -1) throw InputError(path_ + ": the file is damaged after site " + std::to_string(sites));
    if (g.variant_ids.empty())
      throw InputError(path_ +
                       (chromosome.empty() ? ": no biallelic site" : ": no site is on chromosome " + chromosome));
    if (g.variant_ids.size() > 0x7fffffffu) throw InputError(path_ + ": too many sites");
    g.rows = static_cast<std::int32_t>(g.variant_ids.size());
    g.data = allocate_host_bytes(rows.size());
    std::memcpy(g.data.get(), rows.data(), rows.size());
    notes_.clear();
    if (multiallelic > 0)
      notes_.push_back(std::to_string(multiallelic) + " sites with more than one ALT allele skipped");
    if (odd.not_diploid > 0)
      notes_.push_back(std::to_string(odd.not_diploid) + " calls that are not diploid set missing");
    if (odd.no_such_allele > 0)
      notes_.push_back(std::to_string(odd.no_such_allele) +
                       " calls naming an allele their site does not have (such as 0/2 where ALT has one) set missing");
    return g;
  }

 private:
  void open(HtsFile& f) const {
    HtsMessages messages;
    f.file = hts_open(path_.c_str(), "r");
    if (f.file == nullptr) {
      const std::string why = messages.text();
      throw InputError("Failed to open file: " + path_ + ": not a readable VCF or BCF file" +
                       (why.empty() ? "" : " (" + why + ")"));
    }
    const htsFormat* format = hts_get_format(f.file);
    if (format->format != vcf && format->format != bcf) {
      // An empty file, or one that is not a VCF at all (no ##fileformat line).
      std::FILE* raw = std::fopen(path_.c_str(), "rb");
      const bool empty = raw == nullptr || std::fgetc(raw) == EOF;
      if (raw != nullptr) std::fclose(raw);
      throw InputError(path_ +
                       (empty ? ": the file is empty" : ": no VCF header (a VCF starts with ##fileformat=VCF)"));
    }
    f.header = bcf_hdr_read(f.file);
    if (f.header == nullptr) {
      const std::string why = messages.text();
      throw InputError(path_ + ": could not parse the VCF header" + (why.empty() ? "" : ": " + why));
    }
    const int gt = bcf_hdr_id2int(f.header, BCF_DT_ID, "GT");
    if (!bcf_hdr_idinfo_exists(f.header, BCF_HL_FMT, gt))
      throw InputError(path_ + ": the header declares no GT field, so the file holds no genotypes");
    if (!header_shown_) messages.replay();  // once, though the file is opened again to read
    header_shown_ = true;
  }

  // Calls read as missing for what they are.
  struct CallCounts {
    std::uint64_t not_diploid = 0, no_such_allele = 0;
  };

  // The site's codes for every sample into `out` (two bits each).
  void codes_of_site(HtsFile& f, std::uint8_t* out, CallCounts& odd) const {
    const int n = samples();
    std::memset(out, 0, packed_stride(n));
    const int values = bcf_get_genotypes(f.header, f.record, &f.gt, &f.gt_capacity);
    const int ploidy = values > 0 ? values / n : 0;
    const int alleles = f.record->n_allele;
    for (int s = 0; s < n; ++s) {
      unsigned code = 3;
      if (ploidy >= 2) {
        const int32_t a = f.gt[s * ploidy], b = f.gt[s * ploidy + 1];
        const bool diploid = b != bcf_int32_vector_end && (ploidy == 2 || f.gt[s * ploidy + 2] == bcf_int32_vector_end);
        // "." alone is a missing call, not a haploid one.
        const bool missing_call = bcf_gt_is_missing(a) && b == bcf_int32_vector_end;
        if (!diploid && !missing_call)
          ++odd.not_diploid;
        else if (!bcf_gt_is_missing(a) && !bcf_gt_is_missing(b) &&
                 (bcf_gt_allele(a) >= alleles || bcf_gt_allele(b) >= alleles))
          ++odd.no_such_allele;
        else if (!bcf_gt_is_missing(a) && !bcf_gt_is_missing(b))
          code = static_cast<unsigned>((bcf_gt_allele(a) > 0) + (bcf_gt_allele(b) > 0));
      } else if (ploidy == 1 && f.gt[s] != bcf_int32_vector_end && !bcf_gt_is_missing(f.gt[s])) {
        ++odd.not_diploid;
      }
      out[s >> 2] |= static_cast<std::uint8_t>(code << (2 * (s & 3)));
    }
  }

  // The ID column, or CHROM:POS:REF:ALT where it is ".".
  std::string variant_id(HtsFile& f) const {
    const char* id = f.record->d.id;
    if (id != nullptr && std::strcmp(id, ".") != 0 && id[0] != '\0') return id;
    std::string text = std::string(bcf_seqname(f.header, f.record)) + ":" + std::to_string(f.record->pos + 1) + ":" +
                       f.record->d.allele[0] + ":";
    text += f.record->n_allele > 1 ? f.record->d.allele[1] : ".";
    return text;
  }

  std::string path_;
  mutable bool header_shown_ = false;  // htslib's warnings of the header were shown
  std::vector<SampleId> ids_;
  std::vector<Phenotype> no_phenotypes_;
  std::vector<std::string> notes_;
};

}  // namespace

std::unique_ptr<GenotypeSource> open_vcf_source(const std::string& path) { return std::make_unique<VcfSource>(path); }

}  // namespace varpair
