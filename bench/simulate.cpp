// varpair-simulate: deterministic genotype tables for examples, tests and benchmarks.
//
//   varpair-simulate ld --rows0 N --rows1 M --samples S --out PREFIX [options]
//       PREFIX.file0.txt and PREFIX.file1.txt over the same samples. SNPs come in haplotype blocks
//       (a few founder haplotypes a block, copied with a little noise), so that LD is real; some
//       blocks of file1 copy blocks of file0, so that strong cross-table LD exists.
//   varpair-simulate cc --snps N --cases A --controls B --out PREFIX [options]
//       PREFIX.cases.txt and PREFIX.controls.txt over the same SNPs, with planted interacting pairs:
//       homozygote x homozygote (aa*bb), dominant x dominant of the first alleles ((AA+Aa)*(BB+Bb)) and
//       heterozygote x heterozygote (Aa*Bb).
//   varpair-simulate qt --snps N --samples S --out PREFIX [options]
//       PREFIX.txt, the genotypes of all samples, and PREFIX.pheno, quantitative traits Q1 ... QP
//       ("FID IID Q1 ...", about 3 % of each trait missing, written NA). The samples come from two
//       ancestry groups; every tenth SNP (index 7, 17, ...) has allele frequency +0.4 in the second.
//       Q1 = 10 + 0.7 A*B + PC1 + 0.02 (AGE - 50) + N(0, 1), A and B the allele counts of SNPs N/10
//       and 6N/10 (frequencies 0.4 and 0.6, never rare); Q2 has the same form with 0.35 C*D, C and D
//       SNPs N/4 and 3N/4 (frequencies 0.5 and 0.3); Q3 ... are noise, 10 + N(0, 1). PC1 is the group
//       (0 or 1) plus N(0, 0.3^2) noise, so that a test of an ancestry-informative SNP that ignores
//       it is confounded. Every third SNP (2, 5, 8, ...) but the planted ones counts its major allele. With
//       --covariates K, PREFIX.covar ("FID IID PC1 AGE NOISE1 ...", K columns): PC1, AGE (30 to 69,
//       about 1 % missing) and noise covariates N(0, 1). With --plink the .fam's sixth column is Q1
//       (-9 where missing).
//
// Options: --seed X (1), --missing RATE (0), --rare FRACTION (0: case/control and quantitative-trait SNPs
// of that share, not the planted ones, get a minor allele frequency of 0 to 0.05, so that some are
// monomorphic among the cases or the controls, or in all), --plink (also write PREFIX.bed/.bim/.fam), --vcf EXT
// (also write PREFIX.EXT, EXT one of vcf, vcf.gz, bcf), --shuffle-samples (the fileset and the VCF
// list the samples in a shuffled order; the text tables keep theirs), --populations (case/control:
// two subpopulations, the second with three times the case rate and other allele frequencies at
// every twentieth SNP, the ancestry-informative ones; PREFIX.covar holds an ancestry score PC1, AGE
// and SEX for each sample, about 1 % of the ages missing).
// Genotypes count copies of the second allele "G" (0, 1, 2); a missing genotype is written "NA".
// PLINK allele coding: .bim column 5 (A1) is "G", the counted allele, and column 6 (A2) is "A":
// genotype 2 is homozygous A1 (.bed code 00). In the VCF, REF is "A" and ALT "G", so GT counts G.
// Samples are named s0, s1, ... in text-table order (FID = IID). In the LD fileset and VCF file0's
// SNPs are on chromosome 1 and file1's on chromosome 2; in the case/control ones the cases come
// first (phenotype 2), then the controls (phenotype 1), and PREFIX.pheno lists them ("FID IID PHENO").
// In the quantitative ones all SNPs are on chromosome 1 and every file lists the samples in the same
// order as the text table.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#if defined(VARPAIR_SIMULATE_HTSLIB)
#include <htslib/hts.h>
#include <htslib/vcf.h>
#endif

namespace {

using Row = std::vector<std::int8_t>;  // genotypes of one SNP, -1 for missing
using Table = std::vector<Row>;

struct Options {
  std::string mode, out;
  long rows0 = 0, rows1 = 0, samples = 0, snps = 0, cases = 0, controls = 0;
  long phenotypes = 1, covariates = 0;
  bool trait_options = false;  // --phenotypes or --covariates given
  std::uint64_t seed = 1;
  double missing = 0.0;
  double rare = 0.0;
  bool plink = false;
  std::string vcf;  // "", "vcf", "vcf.gz" or "bcf"
  bool shuffle = false;
  bool populations = false;
};

[[noreturn]] void usage(const std::string& why) {
  std::fprintf(stderr,
               "varpair-simulate: %s\n"
               "usage: varpair-simulate ld --rows0 N --rows1 M --samples S --out PREFIX [--seed X] [--missing R] "
               "[--plink] [--vcf vcf|vcf.gz|bcf] [--shuffle-samples]\n"
               "       varpair-simulate cc --snps N --cases A --controls B --out PREFIX [--seed X] [--missing R] "
               "[--rare F] [--populations] [--plink] [--vcf vcf|vcf.gz|bcf] [--shuffle-samples]\n"
               "       varpair-simulate qt --snps N --samples S --out PREFIX [--seed X] [--missing R] [--rare F] "
               "[--phenotypes P] [--covariates K] [--plink] [--vcf vcf|vcf.gz|bcf]\n",
               why.c_str());
  std::exit(2);
}

long positive(const char* text, const char* name) {
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (*text == '\0' || *end != '\0' || v < 1) usage(std::string(name) + " must be a positive whole number");
  return v;
}

long whole(const char* text, const char* name) {
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (*text == '\0' || *end != '\0' || v < 0) usage(std::string(name) + " must be a whole number, 0 or more");
  return v;
}

Options parse(int argc, char** argv) {
  if (argc < 2) usage("no mode");
  Options o;
  o.mode = argv[1];
  if (o.mode != "ld" && o.mode != "cc" && o.mode != "qt") usage("the mode is ld, cc or qt");
  for (int i = 2; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--plink" || a == "--shuffle-samples" || a == "--populations") {
      (a == "--plink" ? o.plink : a == "--populations" ? o.populations : o.shuffle) = true;
      continue;
    }
    if (i + 1 >= argc) usage(a + " needs a value");
    const char* v = argv[++i];
    if (a == "--rows0")
      o.rows0 = positive(v, "--rows0");
    else if (a == "--rows1")
      o.rows1 = positive(v, "--rows1");
    else if (a == "--samples")
      o.samples = positive(v, "--samples");
    else if (a == "--snps")
      o.snps = positive(v, "--snps");
    else if (a == "--cases")
      o.cases = positive(v, "--cases");
    else if (a == "--controls")
      o.controls = positive(v, "--controls");
    else if (a == "--phenotypes" || a == "--covariates") {
      // Zero covariates is a choice (no PREFIX.covar); zero phenotypes is not.
      if (a == "--phenotypes")
        o.phenotypes = positive(v, "--phenotypes");
      else
        o.covariates = whole(v, "--covariates");
      o.trait_options = true;
    } else if (a == "--seed")
      o.seed = static_cast<std::uint64_t>(positive(v, "--seed"));
    else if (a == "--missing")
      o.missing = std::atof(v);
    else if (a == "--rare")
      o.rare = std::atof(v);
    else if (a == "--out")
      o.out = v;
    else if (a == "--vcf")
      o.vcf = v;
    else
      usage("unknown option " + a);
  }
  if (o.out.empty()) usage("--out is required");
  if (o.mode == "ld" && (o.rows0 == 0 || o.rows1 == 0 || o.samples == 0)) usage("ld needs --rows0, --rows1, --samples");
  if (o.mode == "cc" && (o.snps < 10 || o.cases == 0 || o.controls == 0))
    usage("cc needs --snps (at least 10), --cases, --controls");
  if (o.mode == "qt" && (o.snps < 10 || o.samples == 0)) usage("qt needs --snps (at least 10), --samples");
  if (o.trait_options && o.mode != "qt") usage("--phenotypes and --covariates are for quantitative traits");
  if (o.mode == "qt" && o.shuffle) usage("--shuffle-samples is for ld and cc tables");
  if (o.missing < 0 || o.missing >= 1) usage("--missing is a rate from 0 to below 1");
  if (o.rare < 0 || o.rare > 1) usage("--rare is a share from 0 to 1");
  if (o.populations && o.mode != "cc") usage("--populations is for case/control tables");
  if (o.populations && !o.plink && o.vcf.empty()) usage("--populations needs --plink or --vcf (sample IDs)");
  if (!o.vcf.empty() && o.vcf != "vcf" && o.vcf != "vcf.gz" && o.vcf != "bcf") usage("--vcf is vcf, vcf.gz or bcf");
  return o;
}

class Random {
 public:
  explicit Random(std::uint64_t seed) : engine_(seed) {}
  double uniform() { return static_cast<double>(engine_() >> 11) * 0x1.0p-53; }
  std::uint64_t below(std::uint64_t n) { return engine_() % n; }
  bool chance(double p) { return uniform() < p; }
  // Standard normal (Box-Muller), the two uniforms drawn in a fixed order.
  double normal() {
    const double u = uniform();
    const double v = uniform();
    return std::sqrt(-2.0 * std::log(1.0 - u)) * std::cos(6.283185307179586 * v);
  }
  // Genotype under Hardy-Weinberg proportions for allele frequency p.
  std::int8_t genotype(double p) { return static_cast<std::int8_t>(chance(p) + chance(p)); }

 private:
  std::mt19937_64 engine_;
};

void write_text(const std::string& path, const Table& table, long first_sample, long samples) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) throw std::runtime_error("cannot write " + path);
  std::string line;
  for (const Row& row : table) {
    line.clear();
    for (long s = first_sample; s < first_sample + samples; ++s) {
      if (s > first_sample) line += ' ';
      if (row[s] < 0)
        line += "NA";
      else
        line += static_cast<char>('0' + row[s]);
    }
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), f);
  }
  if (std::fclose(f) != 0) throw std::runtime_error("cannot write " + path);
}

// The order in which the fileset and the VCF list the samples: text order, or shuffled.
std::vector<std::size_t> sample_order(std::size_t samples, bool shuffle, std::uint64_t seed) {
  std::vector<std::size_t> order(samples);
  for (std::size_t s = 0; s < samples; ++s) order[s] = s;
  if (shuffle) std::shuffle(order.begin(), order.end(), std::mt19937_64(seed * 7919 + 13));
  return order;
}

// PLINK 1 binary fileset, SNP-major; table t's SNPs on chromosome t + 1.
// The .fam's sixth column comes as text: case/control codes, -9, or quantitative values.
void write_plink(const std::string& prefix, const std::vector<const Table*>& tables,
                 const std::vector<std::string>& phenotypes, const std::vector<std::size_t>& order) {
  const std::size_t samples = phenotypes.size();
  std::FILE* bed = std::fopen((prefix + ".bed").c_str(), "wb");
  std::FILE* bim = std::fopen((prefix + ".bim").c_str(), "wb");
  std::FILE* fam = std::fopen((prefix + ".fam").c_str(), "wb");
  if (bed == nullptr || bim == nullptr || fam == nullptr) throw std::runtime_error("cannot write " + prefix + ".*");
  const unsigned char magic[3] = {0x6c, 0x1b, 0x01};
  std::fwrite(magic, 1, 3, bed);
  std::vector<unsigned char> bytes((samples + 3) / 4);
  static const unsigned char code[3] = {0b11, 0b10, 0b00};  // copies of A1 (G): 0, 1, 2; 01 is missing
  for (std::size_t t = 0; t < tables.size(); ++t) {
    for (std::size_t r = 0; r < tables[t]->size(); ++r) {
      const Row& row = (*tables[t])[r];
      std::fill(bytes.begin(), bytes.end(), 0);
      for (std::size_t k = 0; k < samples; ++k) {
        const int g = row[order[k]];
        bytes[k / 4] |= static_cast<unsigned char>((g < 0 ? 0b01 : code[g]) << (2 * (k % 4)));
      }
      std::fwrite(bytes.data(), 1, bytes.size(), bed);
      std::fprintf(bim, "%zu\tt%zu_snp%zu\t0\t%zu\tG\tA\n", t + 1, t, r, (r + 1) * 1000);
    }
  }
  for (std::size_t k = 0; k < samples; ++k)
    std::fprintf(fam, "s%zu s%zu 0 0 0 %s\n", order[k], order[k], phenotypes[order[k]].c_str());
  if (std::fclose(bed) != 0 || std::fclose(bim) != 0 || std::fclose(fam) != 0)
    throw std::runtime_error("cannot write " + prefix + ".*");
}

#if defined(VARPAIR_SIMULATE_HTSLIB)
// VCF or BCF through htslib; table t's SNPs on chromosome t + 1, REF A, ALT G.
void write_vcf(const std::string& path, const std::vector<const Table*>& tables, std::size_t samples,
               const std::vector<std::size_t>& order) {
  const char* mode = path.ends_with(".bcf") ? "wb" : path.ends_with(".gz") ? "wz" : "w";
  htsFile* f = hts_open(path.c_str(), mode);
  if (f == nullptr) throw std::runtime_error("cannot write " + path);
  bcf_hdr_t* h = bcf_hdr_init("w");
  bcf_hdr_append(h, "##FORMAT=<ID=GT,Number=1,Type=String,Description=\"Genotype\">");
  for (std::size_t t = 0; t < tables.size(); ++t)
    bcf_hdr_append(h, ("##contig=<ID=" + std::to_string(t + 1) + ">").c_str());
  for (std::size_t k = 0; k < samples; ++k) bcf_hdr_add_sample(h, ("s" + std::to_string(order[k])).c_str());
  bcf_hdr_add_sample(h, nullptr);
  if (bcf_hdr_write(f, h) != 0) throw std::runtime_error("cannot write " + path);
  bcf1_t* rec = bcf_init();
  std::vector<int32_t> gt(2 * samples);
  for (std::size_t t = 0; t < tables.size(); ++t) {
    for (std::size_t r = 0; r < tables[t]->size(); ++r) {
      bcf_clear(rec);
      rec->rid = static_cast<int>(t);
      rec->pos = static_cast<hts_pos_t>((r + 1) * 1000 - 1);
      const std::string id = "t" + std::to_string(t) + "_snp" + std::to_string(r);
      bcf_update_id(h, rec, id.c_str());
      bcf_update_alleles_str(h, rec, "A,G");
      const Row& row = (*tables[t])[r];
      for (std::size_t k = 0; k < samples; ++k) {
        const int g = row[order[k]];
        gt[2 * k] = g < 0 ? bcf_gt_missing : bcf_gt_unphased(g == 2 ? 1 : 0);
        gt[2 * k + 1] = g < 0 ? bcf_gt_missing : bcf_gt_unphased(g >= 1 ? 1 : 0);
      }
      bcf_update_genotypes(h, rec, gt.data(), static_cast<int>(gt.size()));
      if (bcf_write(f, h, rec) != 0) throw std::runtime_error("cannot write " + path);
    }
  }
  bcf_destroy(rec);
  bcf_hdr_destroy(h);
  if (hts_close(f) != 0) throw std::runtime_error("cannot write " + path);
}
#else
void write_vcf(const std::string& path, const std::vector<const Table*>&, std::size_t,
               const std::vector<std::size_t>&) {
  throw std::runtime_error("cannot write " + path + ": built without htslib");
}
#endif

void add_missing(Table& table, double rate, Random& rng) {
  if (rate <= 0) return;
  for (Row& row : table)
    for (auto& g : row)
      if (rng.chance(rate)) g = -1;
}

// One haplotype block: a few founders; each sample carries two of them with 2 % noise.
struct Block {
  std::vector<std::vector<std::int8_t>> founders;  // founder x SNP alleles
  std::vector<std::uint8_t> choice;                // per sample, two founder indices
};

Block make_block(long snps, long samples, Random& rng) {
  Block b;
  const int founders = 2 + static_cast<int>(rng.below(4));
  for (int f = 0; f < founders; ++f) {
    std::vector<std::int8_t> alleles(snps);
    for (auto& a : alleles) a = rng.chance(0.35);
    b.founders.push_back(alleles);
  }
  for (long s = 0; s < 2 * samples; ++s) b.choice.push_back(static_cast<std::uint8_t>(rng.below(founders)));
  return b;
}

void append_block_rows(const Block& b, long snps, long samples, Random& rng, Table& out) {
  for (long i = 0; i < snps; ++i) {
    Row row(samples);
    for (long s = 0; s < samples; ++s) {
      int g = 0;
      for (int h = 0; h < 2; ++h) {
        int allele = b.founders[b.choice[2 * s + h]][i];
        if (rng.chance(0.02)) allele ^= 1;
        g += allele;
      }
      row[s] = static_cast<std::int8_t>(g);
    }
    out.push_back(std::move(row));
  }
}

int simulate_ld(const Options& o) {
  Random rng(o.seed);
  constexpr long kBlock = 20;
  Table t0, t1;
  std::vector<Block> blocks0;
  for (long first = 0; first < o.rows0; first += kBlock) {
    blocks0.push_back(make_block(std::min(kBlock, o.rows0 - first), o.samples, rng));
    append_block_rows(blocks0.back(), std::min(kBlock, o.rows0 - first), o.samples, rng, t0);
  }
  std::printf("LD tables: %ld and %ld SNPs, %ld samples, blocks of %ld SNPs\n", o.rows0, o.rows1, o.samples, kBlock);
  for (long first = 0; first < o.rows1; first += kBlock) {
    const long n = std::min(kBlock, o.rows1 - first);
    if ((first / kBlock) % 3 == 1) {  // every third block copies a file0 block: strong cross-table LD
      const std::size_t source = rng.below(blocks0.size());
      const long source_snps = std::min(kBlock, o.rows0 - static_cast<long>(source) * kBlock);
      const long copied = std::min(n, source_snps);
      append_block_rows(blocks0[source], copied, o.samples, rng, t1);
      for (long extra = copied; extra < n; ++extra) {
        Row row(o.samples);
        for (auto& g : row) g = rng.genotype(0.3);
        t1.push_back(std::move(row));
      }
      std::printf("planted: file1 SNPs %ld-%ld copy file0 SNPs %ld-%ld\n", first, first + copied - 1,
                  static_cast<long>(source) * kBlock, static_cast<long>(source) * kBlock + copied - 1);
    } else {
      append_block_rows(make_block(n, o.samples, rng), n, o.samples, rng, t1);
    }
  }
  add_missing(t0, o.missing, rng);
  add_missing(t1, o.missing, rng);
  write_text(o.out + ".file0.txt", t0, 0, o.samples);
  write_text(o.out + ".file1.txt", t1, 0, o.samples);
  const auto order = sample_order(static_cast<std::size_t>(o.samples), o.shuffle, o.seed);
  if (o.plink) write_plink(o.out, {&t0, &t1}, std::vector<std::string>(o.samples, "-9"), order);
  if (!o.vcf.empty()) write_vcf(o.out + "." + o.vcf, {&t0, &t1}, static_cast<std::size_t>(o.samples), order);
  std::printf("wrote %s.file0.txt, %s.file1.txt%s%s\n", o.out.c_str(), o.out.c_str(),
              o.plink ? " and the PLINK fileset" : "", o.vcf.empty() ? "" : (" and " + o.out + "." + o.vcf).c_str());
  return 0;
}

// PREFIX.covar: "#FID IID PC1 AGE SEX", PC1 an ancestry score (the subpopulation plus noise), AGE
// and SEX independent of everything, about 1 % of the ages missing.
void write_covariates(const std::string& path, const std::vector<std::int8_t>& population, Random& rng) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) throw std::runtime_error("cannot write " + path);
  std::fprintf(f, "#FID IID PC1 AGE SEX\n");
  for (std::size_t s = 0; s < population.size(); ++s) {
    const double normal = std::sqrt(-2.0 * std::log(1.0 - rng.uniform())) * std::cos(6.283185307179586 * rng.uniform());
    const double pc = population[s] + 0.05 * normal;
    const long age = 30 + static_cast<long>(rng.below(40));
    if (rng.chance(0.01))
      std::fprintf(f, "s%zu s%zu %.4f NA %d\n", s, s, pc, 1 + static_cast<int>(rng.below(2)));
    else
      std::fprintf(f, "s%zu s%zu %.4f %ld %d\n", s, s, pc, age, 1 + static_cast<int>(rng.below(2)));
  }
  if (std::fclose(f) != 0) throw std::runtime_error("cannot write " + path);
}

// Allele frequencies of the counted allele: 0.1 to 0.5, the fixed ones as given; with --rare, that
// share of the other SNPs gets 0 to 0.05 (some monomorphic in a sample of hundreds).
std::vector<double> allele_frequencies(long snps, const std::map<long, double>& fixed, double rare_share,
                                       std::uint64_t seed, Random& rng) {
  std::vector<double> freq(snps);
  for (auto& p : freq) p = 0.1 + 0.4 * rng.uniform();
  for (const auto& [snp, p] : fixed) freq[snp] = p;
  if (rare_share > 0) {
    // A stream of its own, so that the genotypes of the other SNPs stay those of a run without.
    Random rare(seed * 104729 + 17);
    for (long snp = 0; snp < snps; ++snp)
      if (!fixed.count(snp) && rare.chance(rare_share)) freq[snp] = 0.05 * rare.uniform() * rare.uniform();
  }
  return freq;
}

// Hardy-Weinberg genotypes of every SNP not in skip, SNP by SNP; an ancestry-informative SNP has
// allele frequency +0.4 (at most 0.95) in the samples of group 1.
void draw_genotypes(Table& table, const std::vector<double>& freq, const std::map<long, double>& skip,
                    const std::vector<std::int8_t>& group, const std::vector<bool>& informative, Random& rng) {
  for (std::size_t snp = 0; snp < table.size(); ++snp)
    if (!skip.count(static_cast<long>(snp)))
      for (std::size_t s = 0; s < table[snp].size(); ++s) {
        const double shift = informative[snp] && group[s] == 1 ? 0.4 : 0.0;
        table[snp][s] = rng.genotype(std::min(0.95, freq[snp] + shift));
      }
}

struct PlantedPair {
  const char* kind;
  long snp0, snp1;
  double freq;
  bool (*carries)(int g0, int g1);
  double risk;
};

int simulate_cc(const Options& o) {
  Random rng(o.seed);
  const long n = o.snps;
  std::vector<PlantedPair> planted = {
      {"homozygote x homozygote (aa*bb)", n / 10, n * 6 / 10, 0.45, [](int a, int b) { return a == 2 && b == 2; }, 5.0},
      {"dominant x dominant ((AA+Aa)*(BB+Bb))", n / 4, n * 3 / 4, 0.7, [](int a, int b) { return a <= 1 && b <= 1; },
       3.0},
      {"heterozygote x heterozygote (Aa*Bb)", n * 4 / 10, n * 9 / 10, 0.5,
       [](int a, int b) { return a == 1 && b == 1; }, 3.0},
  };
  std::map<long, double> planted_freq;
  for (const auto& p : planted) planted_freq[p.snp0] = planted_freq[p.snp1] = p.freq;
  const std::vector<double> freq = allele_frequencies(n, planted_freq, o.rare, o.seed, rng);

  // People are drawn at the planted SNPs until both quotas are full; a carrier of a planted pattern
  // is more likely a case. The other SNPs are independent of the status.
  const long total = o.cases + o.controls;
  Table table(n, Row(total));
  long cases = 0, controls = 0;
  std::vector<std::int8_t> g(n);
  // With --populations: each person's subpopulation, from a stream of its own.
  Random people(o.seed * 7877 + 3);
  std::vector<std::int8_t> population(static_cast<std::size_t>(total), 0);
  while (cases < o.cases || controls < o.controls) {
    double penetrance = 0.1;
    const std::int8_t u = o.populations && people.chance(0.5) ? 1 : 0;
    if (u == 1) penetrance *= 3.0;
    for (const auto& [snp, p] : planted_freq) g[snp] = rng.genotype(p);
    for (const auto& p : planted)
      if (p.carries(g[p.snp0], g[p.snp1])) penetrance *= p.risk;
    const bool is_case = rng.chance(penetrance > 1 ? 1 : penetrance);
    long slot;
    if (is_case && cases < o.cases)
      slot = cases++;
    else if (!is_case && controls < o.controls)
      slot = o.cases + controls++;
    else
      continue;
    population[static_cast<std::size_t>(slot)] = u;
    for (const auto& [snp, p] : planted_freq) table[snp][slot] = g[snp];
  }
  std::vector<bool> informative(n);
  for (long snp = 0; snp < n; ++snp) informative[snp] = o.populations && snp % 20 == 7 && !planted_freq.count(snp);
  draw_genotypes(table, freq, planted_freq, population, informative, rng);
  add_missing(table, o.missing, rng);

  std::printf("case/control tables: %ld SNPs, %ld cases, %ld controls\n", n, o.cases, o.controls);
  for (const auto& p : planted)
    std::printf("planted: SNPs %ld and %ld, %s, risk x%.1f for carriers\n", p.snp0, p.snp1, p.kind, p.risk);
  if (o.populations) {
    std::printf("two subpopulations, the second with 3x the case rate; ancestry-informative SNPs (allele frequency "
                "+0.4 in the second):");
    for (long snp = 0; snp < n; ++snp)
      if (informative[snp]) std::printf(" %ld", snp);
    std::printf("\n");
    write_covariates(o.out + ".covar", population, people);
  }
  write_text(o.out + ".cases.txt", table, 0, o.cases);
  write_text(o.out + ".controls.txt", table, o.cases, o.controls);
  std::vector<int> phenotypes(total, 1);
  std::fill(phenotypes.begin(), phenotypes.begin() + o.cases, 2);
  std::vector<std::string> fam_phenotypes;
  for (const int p : phenotypes) fam_phenotypes.push_back(std::to_string(p));
  const auto order = sample_order(static_cast<std::size_t>(total), o.shuffle, o.seed);
  if (o.plink) write_plink(o.out, {&table}, fam_phenotypes, order);
  if (!o.vcf.empty()) {
    write_vcf(o.out + "." + o.vcf, {&table}, static_cast<std::size_t>(total), order);
    std::FILE* pheno = std::fopen((o.out + ".pheno").c_str(), "wb");
    if (pheno == nullptr) throw std::runtime_error("cannot write " + o.out + ".pheno");
    std::fprintf(pheno, "FID IID PHENO\n");
    for (std::size_t k = 0; k < order.size(); ++k)
      std::fprintf(pheno, "s%zu s%zu %d\n", order[k], order[k], phenotypes[order[k]]);
    if (std::fclose(pheno) != 0) throw std::runtime_error("cannot write " + o.out + ".pheno");
  }
  std::printf("wrote %s.cases.txt, %s.controls.txt%s%s\n", o.out.c_str(), o.out.c_str(),
              o.plink ? " and the PLINK fileset" : "", o.vcf.empty() ? "" : (" and " + o.out + "." + o.vcf).c_str());
  return 0;
}

// A table of per-sample values in PLINK 2's phenotype/covariate layout: "FID IID" and the column
// names, then one line a sample in text-table order, each column in its own printf format; NaN is
// written NA.
struct Column {
  std::string name;
  const char* format;
  std::vector<double> values;
};

void write_sample_table(const std::string& path, const std::vector<Column>& columns, long samples) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) throw std::runtime_error("cannot write " + path);
  std::fprintf(f, "FID IID");
  for (const Column& c : columns) std::fprintf(f, " %s", c.name.c_str());
  std::fprintf(f, "\n");
  for (long s = 0; s < samples; ++s) {
    std::fprintf(f, "s%ld s%ld", s, s);
    for (const Column& c : columns) {
      std::fputc(' ', f);
      if (std::isnan(c.values[s]))
        std::fprintf(f, "NA");
      else
        std::fprintf(f, c.format, c.values[s]);
    }
    std::fprintf(f, "\n");
  }
  if (std::fclose(f) != 0) throw std::runtime_error("cannot write " + path);
}

// A pair of SNPs whose allele-count product moves a quantitative trait.
struct TraitPair {
  long snp0, snp1;
  double freq0, freq1;
  double beta;  // trait units per unit of A*B
};

// Each person's ancestry group, PC1 and age (the true one, and the one written, about 1 % missing).
struct People {
  std::vector<std::int8_t> group;
  std::vector<double> pc1, age, age_written;
};

constexpr double kMissing = std::numeric_limits<double>::quiet_NaN();

People draw_people(long total, std::uint64_t seed) {
  Random people(seed * 7877 + 3);  // a stream of their own
  People p{std::vector<std::int8_t>(total), std::vector<double>(total), std::vector<double>(total),
           std::vector<double>(total)};
  for (long s = 0; s < total; ++s) {
    p.group[s] = people.chance(0.5) ? 1 : 0;
    p.pc1[s] = p.group[s] + 0.3 * people.normal();
    p.age[s] = 30.0 + static_cast<double>(people.below(40));
    p.age_written[s] = people.chance(0.01) ? kMissing : p.age[s];
  }
  return p;
}

// Q1 ... QP from the true genotypes (a missing call hides a genotype, it does not change the person),
// about 3 % of each missing. One stream a trait, so that Q1 is the same whatever P is.
std::vector<Column> make_traits(const Table& table, const People& people, const std::vector<TraitPair>& pairs,
                                long count, std::uint64_t seed) {
  std::vector<Column> traits;
  const std::size_t total = people.pc1.size();
  for (long t = 0; t < count; ++t) {
    Random noise(seed * 7877 + 101 + static_cast<std::uint64_t>(t));
    Column q{"Q" + std::to_string(t + 1), "%.4f", std::vector<double>(total)};
    for (std::size_t s = 0; s < total; ++s) {
      double value = 10.0 + noise.normal();
      if (t < static_cast<long>(pairs.size())) {
        const TraitPair& p = pairs[t];
        value += p.beta * table[p.snp0][s] * table[p.snp1][s] + people.pc1[s] + 0.02 * (people.age[s] - 50.0);
      }
      q.values[s] = noise.chance(0.03) ? kMissing : value;
    }
    traits.push_back(std::move(q));
  }
  return traits;
}

// PC1, AGE and noise covariates N(0, 1), count columns in all.
std::vector<Column> make_covariates(const People& people, long count, std::uint64_t seed) {
  std::vector<Column> covariates = {{"PC1", "%.4f", people.pc1}, {"AGE", "%.0f", people.age_written}};
  covariates.resize(std::min<std::size_t>(covariates.size(), static_cast<std::size_t>(count)));
  Random extra(seed * 7877 + 53);
  for (long c = 2; c < count; ++c) {
    Column noise{"NOISE" + std::to_string(c - 1), "%.4f", std::vector<double>(people.pc1.size())};
    for (auto& v : noise.values) v = extra.normal();
    covariates.push_back(std::move(noise));
  }
  return covariates;
}

void print_qt_design(const Options& o, const std::vector<TraitPair>& pairs, const std::vector<bool>& informative) {
  std::printf("quantitative traits: %ld SNPs, %ld samples, %ld phenotypes, %ld covariates\n", o.snps, o.samples,
              o.phenotypes, o.covariates);
  for (long t = 0; t < std::min<long>(o.phenotypes, static_cast<long>(pairs.size())); ++t)
    std::printf("planted: SNPs %ld and %ld, Q%ld + %.2f x A*B (allele counts)\n", pairs[t].snp0, pairs[t].snp1, t + 1,
                pairs[t].beta);
  std::printf("every third SNP (2, 5, 8, ...) counts its major allele, except the planted ones\n");
  std::printf("two ancestry groups; ancestry-informative SNPs (allele frequency +0.4 in the second):");
  for (std::size_t snp = 0; snp < informative.size(); ++snp)
    if (informative[snp]) std::printf(" %zu", snp);
  std::printf("%s\nPC1 is the group plus noise; %s by 1 a unit of PC1 and 0.02 a year of AGE\n",
              std::count(informative.begin(), informative.end(), true) ? "" : " none",
              o.phenotypes > 1 ? "Q1 and Q2 rise" : "Q1 rises");
}

int simulate_qt(const Options& o) {
  Random rng(o.seed);
  const long n = o.snps, total = o.samples;
  // Q1's pair and Q2's weaker one. Their SNPs are never rare and always drawn at these frequencies,
  // so that the genotypes do not depend on --phenotypes; 0.6 makes the counted allele the major one
  // at one SNP of Q1's pair, which tells whether a tool counts the allele the fileset names.
  const std::vector<TraitPair> pairs = {{n / 10, n * 6 / 10, 0.4, 0.6, 0.7}, {n / 4, n * 3 / 4, 0.5, 0.3, 0.35}};
  std::map<long, double> fixed;
  for (const auto& p : pairs) {
    fixed[p.snp0] = p.freq0;
    fixed[p.snp1] = p.freq1;
  }
  std::vector<double> freq = allele_frequencies(n, fixed, o.rare, o.seed, rng);
  // Every third SNP counts its major allele, as REF/ALT-ordered data do: pairs of such SNPs are
  // collinear enough to meet a variance-inflation check, and the coding must be read, not guessed.
  for (long snp = 2; snp < n; snp += 3)
    if (!fixed.count(snp)) freq[snp] = 1.0 - freq[snp];

  const People people = draw_people(total, o.seed);
  std::vector<bool> informative(n);
  for (long snp = 0; snp < n; ++snp) informative[snp] = snp % 10 == 7 && !fixed.count(snp);
  Table table(n, Row(total));
  draw_genotypes(table, freq, {}, people.group, informative, rng);
  const std::vector<Column> traits = make_traits(table, people, pairs, o.phenotypes, o.seed);
  add_missing(table, o.missing, rng);
  const std::vector<Column> covariates = make_covariates(people, o.covariates, o.seed);
  print_qt_design(o, pairs, informative);

  write_text(o.out + ".txt", table, 0, total);
  write_sample_table(o.out + ".pheno", traits, total);
  if (!covariates.empty()) write_sample_table(o.out + ".covar", covariates, total);
  const auto order = sample_order(static_cast<std::size_t>(total), false, o.seed);
  if (o.plink) {
    std::vector<std::string> fam_phenotypes;  // Q1, -9 where missing
    char value[64];
    for (const double q : traits[0].values) {
      std::snprintf(value, sizeof value, traits[0].format, q);
      fam_phenotypes.push_back(std::isnan(q) ? "-9" : value);
    }
    write_plink(o.out, {&table}, fam_phenotypes, order);
  }
  if (!o.vcf.empty()) write_vcf(o.out + "." + o.vcf, {&table}, static_cast<std::size_t>(total), order);
  std::printf("wrote %s.txt, %s.pheno%s%s%s%s\n", o.out.c_str(), o.out.c_str(),
              covariates.empty() ? "" : (", " + o.out + ".covar").c_str(), o.plink ? " and the PLINK fileset" : "",
              o.vcf.empty() ? "" : " and ", o.vcf.empty() ? "" : (o.out + "." + o.vcf).c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const Options o = parse(argc, argv);
  try {
    return o.mode == "ld" ? simulate_ld(o) : o.mode == "cc" ? simulate_cc(o) : simulate_qt(o);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "varpair-simulate: %s\n", e.what());
    return 1;
  }
}
