// The genotype readers on small hand-made files: what each format's codes become, what is matched
// and selected, and the errors a damaged input gets.
#include "common/genotype_source.h"

#include <gtest/gtest.h>

#include <random>

#include "common/errors.h"
#include "common/sample_matching.h"
#include "interaction/genotype_masks.h"
#include "support/test_support.h"

namespace {

using varpair::GenotypeSource;
using varpair::InputError;
using varpair::PackedGenotypes;
using varpair::test::TempDir;

// The code of sample s of row r.
int code(const PackedGenotypes& g, int r, int s) { return (g.row(r)[s / 4] >> (2 * (s % 4))) & 3; }

// A fileset of `samples` samples whose .bed rows are given in PLINK's own two-bit codes.
std::string write_fileset(const TempDir& dir, const std::string& name, const std::vector<std::vector<int>>& bed_codes,
                          int samples, const std::vector<std::string>& chromosomes) {
  std::string fam, bim, bed = "\x6c\x1b\x01";
  for (int s = 0; s < samples; ++s)
    fam += "f" + std::to_string(s) + " i" + std::to_string(s) + " 0 0 0 " + std::to_string(s % 3) + "\n";
  for (std::size_t v = 0; v < bed_codes.size(); ++v) {
    bim += chromosomes[v] + "\trs" + std::to_string(v) + "\t0\t" + std::to_string(v + 1) + "\tG\tA\n";
    std::string row((samples + 3) / 4, '\0');
    for (int s = 0; s < samples; ++s) row[s / 4] = static_cast<char>(row[s / 4] | (bed_codes[v][s] << (2 * (s % 4))));
    bed += row;
  }
  dir.write(name + ".fam", fam);
  dir.write(name + ".bim", bim);
  return dir.write(name + ".bed", bed);
}

std::string error_of(const std::function<void()>& f) {
  try {
    f();
  } catch (const InputError& e) {
    return e.what();
  }
  return "no error";
}

TEST(PlinkSource, CodesCountTheFifthColumnAlleleAndPaddingIsIgnored) {
  TempDir dir;
  // 00 two copies of A1, 10 one, 11 none, 01 missing; five samples leave three padding codes (set to 11).
  std::string path =
      write_fileset(dir, "g", {{0b00, 0b10, 0b11, 0b01, 0b00}, {0b11, 0b11, 0b10, 0b00, 0b01}}, 5, {"1", "2"});
  std::string bed = varpair::test::read_file(path);
  bed[4] = static_cast<char>(bed[4] | 0xFC);  // padding bits of row 0
  dir.write("g.bed", bed);
  const auto source = GenotypeSource::open(path);
  EXPECT_EQ(source->samples(), 5);
  EXPECT_EQ(source->sample_ids()[3].family, "f3");
  EXPECT_EQ(source->phenotypes()[2], varpair::Phenotype::kCase);
  EXPECT_EQ(source->phenotypes()[0], varpair::Phenotype::kNone) << "0 is no phenotype";
  const PackedGenotypes g = source->read({}, "");
  ASSERT_EQ(g.rows, 2);
  const int expected[2][5] = {{2, 1, 0, 3, 2}, {0, 0, 1, 2, 3}};
  for (int r = 0; r < 2; ++r)
    for (int s = 0; s < 5; ++s) EXPECT_EQ(code(g, r, s), expected[r][s]) << r << " " << s;
  EXPECT_EQ(g.row(0)[1] & 0xFC, 0) << "padding past the last sample is code 0";
  EXPECT_EQ(g.variant_ids, (std::vector<std::string>{"rs0", "rs1"}));
  const PackedGenotypes chr2 = GenotypeSource::open(dir.file("g"))->read({}, "chr2");  // a bare prefix
  ASSERT_EQ(chr2.rows, 1);
  EXPECT_EQ(chr2.variant_ids[0], "rs1");
}

TEST(PlinkSource, DamagedFilesetsAreNamedWithWhatIsWrong) {
  TempDir dir;
  const std::string bed = write_fileset(dir, "g", {{0, 2, 3, 1}, {3, 3, 0, 0}}, 4, {"1", "1"});
  const auto open = [&] { GenotypeSource::open(bed); };
  const std::string good_bed = varpair::test::read_file(bed), good_bim = varpair::test::read_file(dir.file("g.bim"));
  EXPECT_NE(error_of([&] { GenotypeSource::open(bed)->read({}, "7"); })
                .find(": no variant is on chromosome 7 (the "
                      "fileset has chromosomes 1)"),
            std::string::npos);
  dir.write("g.bed", good_bed.substr(0, good_bed.size() - 1));
  EXPECT_EQ(error_of(open), bed +
                                ": holds 4 bytes, but the .bim's 2 variants and the .fam's 4 samples need 5 (the "
                                "file is cut short)");
  dir.write("g.bed", good_bed);
  dir.write("g.bim", good_bim + "1\trs9\t0\t9\tG\tA\n");
  EXPECT_NE(error_of(open).find("the .bim's 3 variants"), std::string::npos);
  dir.write("g.bim", good_bim);
  dir.write("g.bed", "\x6c\x1b\x00" + good_bed.substr(3));
  EXPECT_NE(error_of(open).find("a sample-major .bed file"), std::string::npos);
  dir.write("g.bed", "PK\x03" + good_bed.substr(3));
  EXPECT_NE(error_of(open).find("not a PLINK .bed file"), std::string::npos);
  dir.write("g.bed", good_bed);
  dir.write("g.fam", "f0 i0 0 0 0 1\nf1 i1 0 0 1\n");
  EXPECT_EQ(error_of(open), dir.file("g.fam") + ": line 2 has 5 fields; a .fam line has 6");
  dir.write("g.fam", "f0 i0 0 0 0 1\nf1 i1 0 0 0 1\nf0 i0 0 0 0 2\nf3 i3 0 0 0 1\n");
  EXPECT_EQ(error_of(open), dir.file("g.fam") + ": sample f0 i0 appears twice (lines 1 and 3)");
  dir.write("g.fam", "f0 i0 0 0 0 1\nf1 i1 0 0 0 1\nf2 i2 0 0 0 2\nf3 i3 0 0 0 1\n");
  std::remove(dir.file("g.bim").c_str());
  EXPECT_EQ(error_of(open), "Failed to open file: " + dir.file("g.bim") + ": No such file or directory");
}

TEST(SampleSelection, AnyRunOrListGivesTheCodesOfItsSamples) {
  std::mt19937 rng(3);
  for (int total : {1, 5, 31, 32, 33, 130}) {
    std::vector<std::uint8_t> row(varpair::packed_stride(total));
    for (auto& b : row) b = static_cast<std::uint8_t>(rng());
    if (total % 4 != 0) row.back() &= static_cast<std::uint8_t>((1u << (2 * (total % 4))) - 1);
    auto code_of = [&](int s) { return (row[s / 4] >> (2 * (s % 4))) & 3; };
    for (int trial = 0; trial < 40; ++trial) {
      std::vector<std::int32_t> picked;
      const int first = static_cast<int>(rng() % total), n = 1 + static_cast<int>(rng() % (total - first));
      for (int k = 0; k < n; ++k) picked.push_back(trial % 2 ? first + k : static_cast<int>(rng() % total));
      const varpair::SampleSelection selection = varpair::select_listed(picked);
      EXPECT_EQ(selection.run_first >= 0, trial % 2 == 1 || n == 1 || selection.run_first == first);
      std::vector<std::uint8_t> out(varpair::packed_stride(n), 0xFF);
      varpair::select_samples(row.data(), total, selection, out.data());
      for (int k = 0; k < n; ++k) ASSERT_EQ((out[k / 4] >> (2 * (k % 4))) & 3, code_of(picked[k])) << total << " " << k;
      if (n % 4 != 0) {
        EXPECT_EQ(out.back() >> (2 * (n % 4)), 0) << "padding cleared";
      }
    }
  }
}

TEST(GenotypeMasks, MasksFromPackedRowsEqualThoseFromText) {
  std::mt19937 rng(8);
  std::string text;
  for (int r = 0; r < 37; ++r) {
    for (int s = 0; s < 131; ++s)
      text += (s ? " " : "") + std::string(rng() % 17 == 0 ? "NA" : std::to_string(rng() % 3));
    text += "\n";
  }
  TempDir dir;
  const std::string path = dir.write("t.txt", text);
  const varpair::MaskStore from_text = varpair::build_genotype_masks(varpair::MappedFile(path));
  const varpair::MaskStore from_packed = varpair::build_genotype_masks(GenotypeSource::open(path)->read({}, ""));
  ASSERT_EQ(from_packed.words, from_text.words);
  for (int k = 0; k < varpair::kMaskKinds; ++k)
    for (int r = 0; r < 37; ++r)
      for (int w = 0; w < from_text.words; ++w) ASSERT_EQ(from_packed.mask(k, r)[w], from_text.mask(k, r)[w]);
}

#if defined(VARPAIR_HTSLIB)
TEST(VcfSource, GenotypesCountTheAltAlleleAndOddSitesAreCounted) {
  TempDir dir;
  const std::string header =
      "##fileformat=VCFv4.2\n##FORMAT=<ID=GT,Number=1,Type=String,Description=\"Genotype\">\n##contig=<ID=1>\n"
      "#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT\ta\tb\tc\td\n";
  const std::string path = dir.write("v.vcf", header +
                                                  "1\t10\trs1\tA\tG\t.\t.\t.\tGT\t0/0\t0|1\t1/1\t./.\n"
                                                  "1\t20\t.\tC\tT\t.\t.\t.\tGT\t1/0\t0\t0/.\t1|1\n"
                                                  "1\t30\trs3\tA\tG,T\t.\t.\t.\tGT\t0/1\t0/2\t1/1\t0/0\n");
  const auto source = GenotypeSource::open(path);
  EXPECT_EQ(source->sample_ids()[2].individual, "c");
  const PackedGenotypes g = source->read({}, "");
  ASSERT_EQ(g.rows, 2) << "the site with two ALT alleles is skipped";
  const int expected[2][4] = {{0, 1, 2, 3}, {1, 3, 3, 2}};
  for (int r = 0; r < 2; ++r)
    for (int s = 0; s < 4; ++s) EXPECT_EQ(code(g, r, s), expected[r][s]) << r << " " << s;
  EXPECT_EQ(g.variant_ids, (std::vector<std::string>{"rs1", "1:20:C:T"}));
  EXPECT_EQ(source->notes(), (std::vector<std::string>{"1 sites with more than one ALT allele skipped",
                                                       "1 calls that are not diploid set missing"}));
  const std::string no_gt = dir.write("n.vcf",
                                      "##fileformat=VCFv4.2\n##contig=<ID=1>\n"
                                      "#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\n1\t1\t.\tA\tG\t.\t.\t.\n");
  EXPECT_NE(error_of([&] { GenotypeSource::open(no_gt); }).find("declares no GT field"), std::string::npos);
}
#endif

TEST(SampleMatching, TablesMeetOnTheirCommonSamplesInTheFirstTablesOrder) {
  TempDir dir;
  write_fileset(dir, "a", {{0, 0, 0, 0}}, 4, {"1"});
  dir.write("b.fam", "f3 i3 0 0 0 1\nf9 i9 0 0 0 1\nf1 i1 0 0 0 1\n");
  dir.write("b.bim", "1\trs\t0\t1\tG\tA\n");
  dir.write("b.bed", std::string("\x6c\x1b\x01\x00", 4));
  const auto a = GenotypeSource::open(dir.file("a.bed")), b = GenotypeSource::open(dir.file("b.bed"));
  const varpair::SampleMatch m = varpair::match_samples(*a, "a", *b, "b");
  EXPECT_TRUE(m.by_id);
  EXPECT_EQ(m.first.samples, (std::vector<std::int32_t>{1, 3}));
  EXPECT_EQ(m.second.samples, (std::vector<std::int32_t>{2, 0}));
  EXPECT_EQ(m.common, 2);
  EXPECT_EQ(m.left_out_first, 2);
  EXPECT_EQ(m.left_out_second, 1);
  dir.write("b.fam", "x3 i3 0 0 0 1\nf9 i9 0 0 0 1\nx1 i1 0 0 0 1\n");  // other families: no common sample
  EXPECT_EQ(error_of([&] { varpair::match_samples(*a, "a", *GenotypeSource::open(dir.file("b.bed")), "b"); }),
            "No sample of a is in b (samples are matched by ID)");
}

TEST(Phenotypes, AFileOverridesTheFamAndNamesSamplesByFamilyAndIndividual) {
  TempDir dir;
  write_fileset(dir, "a", {{0, 0, 0, 0}}, 4, {"1"});
  const auto a = GenotypeSource::open(dir.file("a.bed"));
  std::int32_t unmatched = 0;
  const auto p = varpair::read_phenotype_file(dir.write("p.txt", "FID IID PHENO\nf0 i0 2\nf2 i2 1\nzz i3 2\n"), *a, "a",
                                              unmatched);
  EXPECT_EQ(p, (std::vector<varpair::Phenotype>{varpair::Phenotype::kCase, varpair::Phenotype::kNone,
                                                varpair::Phenotype::kControl, varpair::Phenotype::kNone}));
  EXPECT_EQ(unmatched, 1);
  const auto split = varpair::split_by_phenotype(p, "a");
  EXPECT_EQ(split.cases.samples, std::vector<std::int32_t>{0});
  EXPECT_EQ(split.left_out, 2);
  EXPECT_EQ(varpair::read_phenotype_file(dir.write("q.txt", "i1 2\n"), *a, "a", unmatched)[1],
            varpair::Phenotype::kCase)
      << "two columns: IID and phenotype";
  EXPECT_EQ(error_of([&] { varpair::read_phenotype_file(dir.write("r.txt", "x y 2\n"), *a, "a", unmatched); }),
            dir.file("r.txt") + ": no line names a sample of a");
  EXPECT_NE(error_of([&] {
              varpair::split_by_phenotype(std::vector<varpair::Phenotype>(3, varpair::Phenotype::kCase), "a");
            }).find("3 cases and 0 controls"),
            std::string::npos);
}

}  // namespace
