// boost_interaction from the command line: every pair and the per-SNP summary against cells counted
// straight from the tables' tokens, rare variants and pairs without a test included; the screen
// loses no pair at a real cut-off; many groups, batches and threads write the same bytes.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <random>
#include <sstream>

#include "device/host_testing.h"
#include "e2e/interaction_reference.h"
#include "models/boost_fit.h"
#include "support/test_support.h"

namespace {

using namespace varpair::test;

std::string printed(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", v);
  return text;
}

class BoostInteraction : public ::testing::Test {
 protected:
  varpair::device::testing::Scope device_scope;
  TempDir dir;
  std::mt19937 rng{91};
  std::string cases, controls, out = dir.file("boost.txt");

  // Tables of `rows` SNPs with about 2 % missing calls; every fifth SNP rare (its genotype 2
  // almost absent, genotype 1 scarce) and SNP 7 monomorphic, so that DF 2, 1 and 0 all occur.
  void make_tables(int rows, int case_samples, int control_samples) {
    const auto table = [&](int samples, bool is_case) {
      std::string text = random_case_control_table(rng, rows, samples, is_case);
      std::istringstream lines(text);
      std::ostringstream edited;
      std::string line;
      for (int r = 0; std::getline(lines, line); ++r) {
        if (r % 5 == 2 || r == 7)
          for (char& c : line)
            if (c == '2' || (c == '1' && (r == 7 || rng() % 8 != 0))) c = '0';
        edited << line << '\n';
      }
      return edited.str();
    };
    cases = dir.write("cases.txt", table(case_samples, true));
    controls = dir.write("controls.txt", table(control_samples, false));
  }

  RunResult run(std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"boost_interaction", "-file0", cases, "-file1", controls, "-o", out};
    args.insert(args.end(), extra.begin(), extra.end());
    return run_varpair(args);
  }

  // The table and summary the reference expects at `alpha`: the exact test of each pair's cells
  // counted sample by sample.
  std::pair<std::string, std::string> expected(double alpha) {
    const auto a = reference_genotypes(read_file(cases)), b = reference_genotypes(read_file(controls));
    std::ostringstream table;
    table << "SNP0\tSNP1\tSTAT\tDF\tP\n";
    std::vector<int> tests(a.size(), 0), reported(a.size(), 0);
    for (std::size_t i = 0; i < a.size(); ++i)
      for (std::size_t j = i + 1; j < a.size(); ++j) {
        const ReferenceCells c = reference_cells(a[i], a[j], b[i], b[j]);
        const auto t = varpair::boost_exact_test(&c.cases[0][0], &c.controls[0][0]);
        if (t.df == 0) continue;
        ++tests[i], ++tests[j];
        if (!(t.p <= alpha)) continue;
        ++reported[i], ++reported[j];
        table << i << '\t' << j << '\t' << printed(t.statistic) << '\t' << t.df << '\t' << printed(t.p) << '\n';
      }
    std::ostringstream summary;
    for (std::size_t s = 0; s < a.size(); ++s) summary << s << "\t.\t" << tests[s] << '\t' << reported[s] << '\n';
    return {table.str(), summary.str()};
  }

  // The summary's first four columns.
  std::string summary_counts() {
    std::istringstream lines(read_file(out + ".summary"));
    std::string line, text;
    std::getline(lines, line);
    EXPECT_EQ(line, "SNP\tID\tN_TOT\tN_SIG\tBEST_SNP\tBEST_ID\tBEST_STAT\tBEST_P");
    while (std::getline(lines, line)) {
      std::size_t at = 0;
      for (int k = 0; k < 4; ++k) at = line.find('\t', at) + 1;
      text += line.substr(0, at - 1) + "\n";
    }
    return text;
  }
};

TEST_F(BoostInteraction, EveryPairAndEveryTestCountAsTheReferenceHasThem) {
  make_tables(30, 70, 90);
  const auto r = run({"-alpha_cut", "1"});
  ASSERT_EQ(r.status, 0) << r.out;
  const auto [table, summary] = expected(1.0);
  EXPECT_TRUE(SameText(read_file(out), table));
  EXPECT_TRUE(SameText(summary_counts(), summary));
  EXPECT_NE(r.out.find("Pairs without a test (DF 0"), std::string::npos);
  std::map<int, int> by_df;
  std::istringstream lines(table);
  std::string line;
  std::getline(lines, line);
  for (int snp0, snp1, df; lines >> snp0 >> snp1 >> line >> df >> line;) ++by_df[df];
  EXPECT_GT(by_df[4], 100);
  EXPECT_GT(by_df[2], 20) << "rare SNPs";
  EXPECT_GT(by_df[1], 0) << "two rare SNPs";
}

TEST_F(BoostInteraction, TheScreenLosesNoPairAtARealCutOff) {
  make_tables(60, 120, 100);
  for (const double alpha : {0.001, 0.05}) {
    const auto r = run({"-alpha_cut", std::to_string(alpha)});
    ASSERT_EQ(r.status, 0) << r.out;
    const auto [table, summary] = expected(alpha);
    EXPECT_TRUE(SameText(read_file(out), table)) << alpha;
    EXPECT_TRUE(SameText(summary_counts(), summary)) << alpha;
  }
}

TEST_F(BoostInteraction, ManyGroupsBatchesAndThreadsWriteTheSameBytes) {
  make_tables(230, 80, 70);
  ASSERT_EQ(run({"-alpha_cut", "0.05"}).status, 0);
  const std::string table = read_file(out), summary = read_file(out + ".summary");
  varpair::device::testing::set_memory_budget(90000);
  const auto many = run({"-alpha_cut", "0.05", "-threads", "8"});
  ASSERT_EQ(many.status, 0) << many.out;
  EXPECT_NE(many.out.find("Number of groups: 5\n"), std::string::npos) << many.out;
  EXPECT_TRUE(SameText(read_file(out), table));
  EXPECT_TRUE(SameText(read_file(out + ".summary"), summary));
}

TEST_F(BoostInteraction, HasNoOddsRatioCutOff) {
  make_tables(5, 10, 10);
  const auto r = run({"-or_cut", "2"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Error: Undefined command-line arguments: -or_cut\n");
  EXPECT_FALSE(file_exists(out));
}

}  // namespace
