// Whole runs give the same bytes on every target of the host backend (the portable path, SSSE3 ...
// AVX-512, as this processor has them): every command's tables, the LD distribution and part
// files, on tables with missing calls and without, at sample counts that end mid-vector.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <random>
#include <sstream>

#include "support/targets.h"
#include "support/test_support.h"

namespace {

using varpair::test::read_file;
using varpair::test::run_varpair;
using varpair::test::TempDir;

const std::string kExamples = std::string(VARPAIR_TEST_DATA) + "/../../examples/";

// Rows of genotypes; every third row a noisy copy of the one before (strong LD and interactions),
// rows with a remainder of 1 by 4 without a missing call (the complete rows' shorter counts).
std::string table(std::mt19937& rng, int rows, int samples) {
  std::ostringstream text;
  std::vector<int> previous(samples, 0);
  for (int r = 0; r < rows; ++r) {
    for (int s = 0; s < samples; ++s) {
      int g = r % 3 == 2 && rng() % 8 != 0 ? previous[s] : static_cast<int>(rng() % 3);
      if (r % 4 != 1 && rng() % 30 == 0) g = 3;
      previous[s] = g;
      text << (s ? " " : "") << (g == 3 ? "NA" : std::to_string(g));
    }
    text << "\n";
  }
  return text.str();
}

// Every output file of a run directory, by name (part files by their directory and name).
std::map<std::string, std::string> outputs(const std::string& dir) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
    const auto name = entry.path().lexically_relative(dir).string();
    if (!entry.is_regular_file() || name.ends_with(".log") || name.ends_with("run.id") || name.ends_with(".meta"))
      continue;
    files[name] = read_file(entry.path().string());
  }
  return files;
}

TEST(EveryTarget, WritesTheSameBytes) {
  std::mt19937 rng(41);
  const TempDir inputs;
  // 1000 + 300 samples for LD and 700 + 900 for interaction: none a whole number of vectors.
  // The second LD table begins with the first one's rows: pairs in LD across the tables.
  const std::string ld_rows = table(rng, 30, 1300);
  const auto ld0 = inputs.write("ld0.txt", ld_rows), ld1 = inputs.write("ld1.txt", ld_rows + table(rng, 20, 1300));
  const auto cases = inputs.write("cases.txt", table(rng, 45, 700));
  const auto controls = inputs.write("controls.txt", table(rng, 45, 900));
  std::map<std::string, std::string> first;
  std::string first_target;
  varpair::test::for_each_target([&](const std::string& target) {
    const TempDir out;
    const std::vector<std::vector<std::string>> runs = {
        {"interChromLDr2", "-file0", ld0, "-file1", ld1, "-o", out.file("r2.txt"), "-r2_cut", "0.02", "-distribution",
         out.file("r2.dist")},
        {"interChromLDdprime", "-file0", ld0, "-file1", ld1, "-o", out.file("dp.txt"), "-dprime_cut", "0.3"},
        {"interChromLDdprime", "-file0", ld0, "-file1", ld1, "-o", out.file("dp0"), "-dprime_cut", "0"},
        {"genotype_interaction", "-file0", cases, "-file1", controls, "-o", out.file("gi.txt"), "-alpha_cut", "0.2",
         "-or_cut", "1.1"},
        {"mdr_interaction", "-file0", cases, "-file1", controls, "-o", out.file("mdr.txt"), "-alpha_cut", "0.2",
         "-or_cut", "1.1"},
        {"domrec_interaction", "-file0", cases, "-file1", controls, "-o", out.file("dr.txt"), "-alpha_cut", "0.2",
         "-or_cut", "1.1"},
        {"boost_interaction", "-file0", cases, "-file1", controls, "-o", out.file("boost.txt"), "-alpha_cut", "0.2"},
        // Three traits, each with its own missing values, and missing calls: the vector targets take
        // the pairs by tiles, the portable path one at a time.
        {"qt_interaction", "-file0", kExamples + "qt.bed", "-pheno", kExamples + "qt.pheno", "-covar",
         kExamples + "qt.covar", "-o", out.file("qt.txt"), "-alpha_cut", "0.3"},
        {"qt_interaction", "-file0", kExamples + "qt.bed", "-pheno", kExamples + "qt.pheno", "-o",
         out.file("qt1.txt"), "-alpha_cut", "0.3"},
    };
    for (const auto& args : runs) ASSERT_EQ(run_varpair(args).status, 0) << args[0];
    const auto files = outputs(out.path());
    if (first.empty()) {
      first = files;
      first_target = target;
      // Enough of every kind for a difference to show: values below the cut-off in the distribution,
      // pairs in each table.
      for (const char* name : {"r2.txt", "dp.txt", "gi.txt", "mdr.txt", "dr.txt", "boost.txt", "qt.txt", "qt1.txt"})
        EXPECT_GT(std::count(first[name].begin(), first[name].end(), '\n'), 5) << name;
      return;
    }
    ASSERT_EQ(files.size(), first.size());
    for (const auto& [name, bytes] : files)
      EXPECT_TRUE(bytes == first[name]) << name << " differs between " << first_target << " and " << target;
  });
}

}  // namespace
