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
//
// Options: --seed X (1), --missing RATE (0), --rare FRACTION (0: case/control SNPs of that share, not
// the planted ones, get a minor allele frequency of 0 to 0.05, so that some are monomorphic among the
// cases or the controls, or in all), --plink (also write PREFIX.bed/.bim/.fam), --vcf EXT
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
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
               "[--rare F] [--populations] [--plink] [--vcf vcf|vcf.gz|bcf] [--shuffle-samples]\n",
               why.c_str());
  std::exit(2);
}

long positive(const char* text, const char* name) {
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (*text == '\0' || *end != '\0' || v < 1) usage(std::string(name) + " must be a positive whole number");
  return v;
}

Options parse(int argc, char** argv) {
  if (argc < 2) usage("no mode");
  Options o;
  o.mode = argv[1];
  if (o.mode != "ld" && o.mode != "cc") usage("the mode is ld or cc");
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
    else if (a == "--seed")
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
void write_plink(const std::string& prefix, const std::vector<const Table*>& tables, const std::vector<int>& phenotypes,
                 const std::vector<std::size_t>& order) {
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
    std::fprintf(fam, "s%zu s%zu 0 0 0 %d\n", order[k], order[k], phenotypes[order[k]]);
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
  if (o.plink) write_plink(o.out, {&t0, &t1}, std::vector<int>(o.samples, -9), order);
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
  std::vector<double> freq(n);
  for (auto& p : freq) p = 0.1 + 0.4 * rng.uniform();
  std::map<long, double> planted_freq;
  for (const auto& p : planted) planted_freq[p.snp0] = planted_freq[p.snp1] = p.freq;
  for (const auto& [snp, p] : planted_freq) freq[snp] = p;
  if (o.rare > 0) {
    // A stream of its own, so that the genotypes of the other SNPs stay those of a run without.
    Random rare(o.seed * 104729 + 17);
    for (long snp = 0; snp < n; ++snp)
      if (!planted_freq.count(snp) && rare.chance(o.rare)) freq[snp] = 0.05 * rare.uniform() * rare.uniform();
  }

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
  const auto informative = [&](long snp) { return o.populations && snp % 20 == 7 && !planted_freq.count(snp); };
  for (long snp = 0; snp < n; ++snp)
    if (!planted_freq.count(snp))
      for (long s = 0; s < total; ++s) {
        const double shift = informative(snp) && population[static_cast<std::size_t>(s)] == 1 ? 0.4 : 0.0;
        table[snp][s] = rng.genotype(std::min(0.95, freq[snp] + shift));
      }
  add_missing(table, o.missing, rng);

  std::printf("case/control tables: %ld SNPs, %ld cases, %ld controls\n", n, o.cases, o.controls);
  for (const auto& p : planted)
    std::printf("planted: SNPs %ld and %ld, %s, risk x%.1f for carriers\n", p.snp0, p.snp1, p.kind, p.risk);
  if (o.populations) {
    std::printf("two subpopulations, the second with 3x the case rate; ancestry-informative SNPs (allele frequency "
                "+0.4 in the second):");
    for (long snp = 0; snp < n; ++snp)
      if (informative(snp)) std::printf(" %ld", snp);
    std::printf("\n");
    write_covariates(o.out + ".covar", population, people);
  }
  write_text(o.out + ".cases.txt", table, 0, o.cases);
  write_text(o.out + ".controls.txt", table, o.cases, o.controls);
  std::vector<int> phenotypes(total, 1);
  std::fill(phenotypes.begin(), phenotypes.begin() + o.cases, 2);
  const auto order = sample_order(static_cast<std::size_t>(total), o.shuffle, o.seed);
  if (o.plink) write_plink(o.out, {&table}, phenotypes, order);
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

}  // namespace

int main(int argc, char** argv) {
  const Options o = parse(argc, argv);
  try {
    return o.mode == "ld" ? simulate_ld(o) : simulate_cc(o);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "varpair-simulate: %s\n", e.what());
    return 1;
  }
}
