// mdr_interaction and domrec_interaction from the command line: their records against counts taken
// straight from the tokens, and the lines and failures in which they differ from genotype_interaction.
#include <gtest/gtest.h>

#include "device/host_testing.h"
#include "e2e/interaction_reference.h"
#include "interaction/interaction_command.h"
#include "models/pair_evaluations.h"
#include "support/test_support.h"

namespace {

using namespace varpair::test;
using varpair::device::testing::fail_calls;
using varpair::device::testing::Op;

// The MDR table written out independently: weighted cases against controls per cell.
std::vector<CandidateTable> mdr_tables(const ReferenceCells& cells, float ratio) {
  int a = 0, b = 0, c = 0, d = 0;
  for (int x = 0; x < 3; ++x)
    for (int y = 0; y < 3; ++y) {
      const float weighted = static_cast<float>(cells.cases[x][y]) * ratio;
      const float controls = static_cast<float>(cells.controls[x][y]);
      if (weighted > controls) a += cells.cases[x][y], c += cells.controls[x][y];
      if (weighted < controls) b += cells.cases[x][y], d += cells.controls[x][y];
    }
  if (a < 1 || b < 1 || c < 1 || d < 1) return {};
  return {{0, a, b, c, d}};
}

std::vector<CandidateTable> domrec_tables(const ReferenceCells& cells) {
  std::vector<CandidateTable> tables;
  const int sets[4][2] = {{1, 1}, {1, 0}, {0, 1}, {0, 0}};  // the largest genotype of each SNP in the cell
  for (int model = 0; model < 4; ++model) {
    int a = 0, c = 0;
    for (int x = 0; x <= sets[model][0]; ++x)
      for (int y = 0; y <= sets[model][1]; ++y) a += cells.cases[x][y], c += cells.controls[x][y];
    tables.push_back({model, a, cells.n_cases - a, c, cells.n_controls - c});
  }
  return tables;
}

class OtherModels : public ::testing::Test {
 protected:
  varpair::device::testing::Scope device_scope;
  TempDir dir;
  std::mt19937 rng{31};
  std::string cases, controls, out = dir.file("run.txt");

  void make_tables(int rows, int case_samples, int control_samples) {
    cases = dir.write("cases.txt", random_case_control_table(rng, rows, case_samples, true));
    controls = dir.write("controls.txt", random_case_control_table(rng, rows, control_samples, false));
  }
  RunResult run(const std::string& command, std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {command, "-file0", cases, "-file1", controls, "-o", out};
    args.insert(args.end(), extra.begin(), extra.end());
    return run_varpair(args);
  }
};

TEST_F(OtherModels, MdrRecordsAreExactlyThoseTheModelDefines) {
  make_tables(45, 80, 120);
  const auto r = run("mdr_interaction", {"-alpha_cut", "0.01", "-or_cut", "1.5"});
  ASSERT_EQ(r.status, 0) << r.out;
  const float ratio = 120.0f / 80.0f;
  const auto expected =
      expected_records(reference_genotypes(read_file(cases)), reference_genotypes(read_file(controls)), 0.01, 1.5f,
                       [ratio](const ReferenceCells& cells) { return mdr_tables(cells, ratio); });
  ASSERT_GT(expected.size(), 10u);
  expect_same_records(parse_table(read_file(out), varpair::kMdrInteraction.header,
                                  [](const std::string& text) { return text == "high_risk_vs_low_risk" ? 0 : -1; }),
                      expected);
  EXPECT_NE(r.out.find("Control / Case sample ratio fold = 1.500\n"), std::string::npos) << "3 decimals, as set before";
  EXPECT_EQ(r.out.find("Case mask words"), std::string::npos);
  EXPECT_EQ(r.out.find("Using GPU"), std::string::npos) << "only genotype_interaction names the device";
  EXPECT_NE(r.out.find("Multi-factor dimensionality reduction interaction analysis completed successfully!\n"),
            std::string::npos);
}

TEST_F(OtherModels, DomrecRecordsAreExactlyThoseTheModelsDefine) {
  make_tables(45, 80, 120);
  const auto r = run("domrec_interaction", {"-alpha_cut", "0.01", "-or_cut", "1.5"});
  ASSERT_EQ(r.status, 0) << r.out;
  const auto expected = expected_records(reference_genotypes(read_file(cases)),
                                         reference_genotypes(read_file(controls)), 0.01, 1.5f, domrec_tables);
  ASSERT_GT(expected.size(), 10u);
  expect_same_records(parse_table(read_file(out), varpair::kDomrecInteraction.header,
                                  [](const std::string& text) {
                                    for (int k = 0; k < 4; ++k)
                                      if (text == varpair::DomrecEvaluation::kLabels[k]) return k;
                                    return -1;
                                  }),
                      expected);
  EXPECT_NE(r.out.find("Case mask words: 2\nControl mask words: 2\n"), std::string::npos);
  EXPECT_NE(r.out.find("Dominant-recessive interaction analysis completed successfully!\n"), std::string::npos);
}

TEST_F(OtherModels, DomrecTakesChisqCutAsItsPValueCutoff) {
  make_tables(30, 60, 60);
  ASSERT_EQ(run("domrec_interaction", {"-alpha_cut", "0.01"}).status, 0);
  const std::string by_alpha = read_file(out);
  ASSERT_EQ(run("domrec_interaction", {"-chisq_cut", "0.01"}).status, 0);
  EXPECT_TRUE(SameText(read_file(out), by_alpha));
  const auto later = run("domrec_interaction", {"-chisq_cut", "0.5", "-alpha_cut", "0.01"});
  EXPECT_NE(later.out.find("Alpha cutoff for p-value: 0.01\n"), std::string::npos) << "the later of the two holds";
  EXPECT_TRUE(SameText(read_file(out), by_alpha));
  EXPECT_EQ(run("domrec_interaction", {"-chisq_cut", "abc"}).err,
            "Error: Invalid value for -chisq_cut: 'abc' (expected a finite number)\n");
}

TEST_F(OtherModels, GroupingFollowsEachModelsPlan) {
  make_tables(50, 20, 20);
  const auto domrec = run("domrec_interaction");
  EXPECT_NE(domrec.out.find("Group size: 25 rows\nNumber of groups: 2\n"), std::string::npos) << domrec.out;
  EXPECT_NE(domrec.out.find("Completed between groups 0 and 1: 625 pairs processed\n"), std::string::npos);
  make_tables(250, 20, 20);
  const auto mdr = run("mdr_interaction");
  EXPECT_NE(mdr.out.find("Inter-group 0 and 1completed: 15625 pairs processed\n"), std::string::npos) << mdr.out;
}

TEST_F(OtherModels, TheirOwnFailureTexts) {
  make_tables(6, 10, 10);
  const std::string six = controls;
  controls = dir.write("seven.txt", random_case_control_table(rng, 7, 10, false));
  EXPECT_TRUE(
      run("mdr_interaction").out.ends_with("Error: Number of SNPs in case and control files must be the same!\n"));
  EXPECT_TRUE(
      run("domrec_interaction").out.ends_with("Error: Number of SNPs in control and case files must be the same!\n"));
  controls = six;

  // domrec_interaction has no read-error lines: an unreadable table leaves through the outermost handler.
  const std::string good_cases = cases;
  cases = dir.write("empty.txt", "");
  const auto empty = run("domrec_interaction");
  EXPECT_EQ(empty.status, 1);
  EXPECT_EQ(empty.err, "Exception in domrec_interaction: Failed to create file mapping: " + cases + "\n");
  EXPECT_FALSE(file_exists(out));
  EXPECT_TRUE(
      run("mdr_interaction").out.ends_with("Error reading case file: Failed to create file mapping: " + cases + "\n"));
  cases = good_cases;

  fail_calls(Op::Memcpy, cudaErrorIllegalAddress, 1, 1);
  EXPECT_NE(run("mdr_interaction").out.find("Error processing group 0: CUDA memory copy for mask1 failed\n"),
            std::string::npos);
  fail_calls(Op::Malloc, cudaErrorMemoryAllocation, 1, 3);
  EXPECT_NE(run("domrec_interaction").out.find("Error processing group 0: Failed to allocate GPU memory for AB mask\n"),
            std::string::npos);
  fail_calls(Op::Memcpy, cudaErrorIllegalAddress, 1, 2);
  EXPECT_NE(run("domrec_interaction").out.find("Error processing group 0: CUDA memory copy for BB mask failed\n"),
            std::string::npos);
  fail_calls(Op::Launch, cudaErrorLaunchFailure, 1, 0);
  const auto launch = run("domrec_interaction");
  EXPECT_NE(launch.out.find("ERROR: Within-group kernel launch failed: unspecified launch failure\n"),
            std::string::npos);
  EXPECT_EQ(launch.status, 1);
}

}  // namespace
