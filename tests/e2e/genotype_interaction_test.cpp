// genotype_interaction from the command line: every record against counts taken straight from the
// tables' tokens, one group against many groups and batches, the report, and every failure path.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <sstream>

#include "device/host_testing.h"
#include "e2e/interaction_reference.h"
#include "interaction/interaction_command.h"
#include "models/pair_evaluations.h"
#include "support/test_support.h"

namespace {

using varpair::device::testing::fail_calls;
using varpair::device::testing::Op;
using varpair::test::kBom;
using varpair::test::read_file;
using varpair::test::run_varpair;
using varpair::test::TempDir;
using namespace varpair::test;

class GenotypeInteraction : public ::testing::Test {
 protected:
  varpair::device::testing::Scope device_scope;
  TempDir dir;
  std::mt19937 rng{77};
  std::string cases, controls, out = dir.file("gi.txt");

  void make_tables(int rows, int case_samples, int control_samples) {
    cases = dir.write("cases.txt", random_case_control_table(rng, rows, case_samples, true));
    controls = dir.write("controls.txt", random_case_control_table(rng, rows, control_samples, false));
  }

  varpair::test::RunResult run(std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"genotype_interaction", "-file0", cases, "-file1", controls, "-o", out};
    args.insert(args.end(), extra.begin(), extra.end());
    return run_varpair(args);
  }
};

TEST_F(GenotypeInteraction, RecordsAreExactlyThoseTheModelDefines) {
  make_tables(40, 90, 130);  // different sample counts are fine
  const auto r = run({"-alpha_cut", "0.01", "-or_cut", "1.5"});
  ASSERT_EQ(r.status, 0) << r.out;
  // Each of the nine cells against every other genotyped combination.
  const ModelTables nine = [](const ReferenceCells& cells) {
    std::vector<CandidateTable> tables;
    for (int k = 0; k < 9; ++k) {
      const int a = cells.cases[k / 3][k % 3], c = cells.controls[k / 3][k % 3];
      tables.push_back({k, a, cells.n_cases - a, c, cells.n_controls - c});
    }
    return tables;
  };
  const auto expected = expected_records(reference_genotypes(read_file(cases)),
                                         reference_genotypes(read_file(controls)), 0.01, 1.5f, nine);
  ASSERT_GT(expected.size(), 20u);
  expect_same_records(parse_table(read_file(out), varpair::kGenotypeInteraction.header,
                                  [](const std::string& text) {
                                    for (int k = 0; k < 9; ++k)
                                      if (text == varpair::NineGenotypeEvaluation::kLabels[k]) return k;
                                    return -1;
                                  }),
                      expected);
  EXPECT_NE(r.out.find("Total valid results: " + std::to_string(expected.size()) + "\n"), std::string::npos);
}

TEST_F(GenotypeInteraction, ManyGroupsAndBatchesWriteTheSameTable) {
  make_tables(250, 90, 100);
  const auto one = run({"-alpha_cut", "0.05", "-or_cut", "1.2"});
  ASSERT_EQ(one.status, 0);
  EXPECT_NE(one.out.find("Group size: 125 rows\nNumber of groups: 2\n"), std::string::npos);
  const std::string single = read_file(out);
  // 77000 bytes of device memory: groups of 40 rows (7 groups) and batches of 136 pairs.
  varpair::device::testing::set_memory_budget(77000);
  const auto many = run({"-alpha_cut", "0.05", "-or_cut", "1.2", "-threads", "8"});
  ASSERT_EQ(many.status, 0) << many.out;
  EXPECT_NE(many.out.find("Group size: 40 rows\n"), std::string::npos) << many.out;
  EXPECT_NE(many.out.find("Number of groups: 7\n"), std::string::npos);
  EXPECT_NE(many.out.find("Processing between groups 5 and 6 (40 x 10 pairs)...\n"), std::string::npos);
  EXPECT_TRUE(SameText(read_file(out), single));
}

TEST_F(GenotypeInteraction, ReportsEveryStepOnConsoleAndLog) {
  make_tables(5, 20, 30);
  const auto r = run();
  ASSERT_EQ(r.status, 0);
  EXPECT_TRUE(varpair::test::LinesMatch(r.out, {"varpair version: 2.0",
                                                "Device backend: host CPU (*)",
                                                "Command: genotype_interaction",
                                                "Command line: genotype_interaction genotype_interaction -file0 " +
                                                    cases + " -file1 " + controls + " -o " + out,
                                                "Program started at: *",
                                                std::string(40, '-'),
                                                "Found 1 CUDA-capable GPU(s)",
                                                "Using GPU: Host CPU (*)",
                                                "Compute capability: 0.0",
                                                "Global memory: * GB",
                                                "Alpha cutoff for p-value: 1e-05",
                                                "Chi-square threshold: 19.5114",
                                                "OR threshold: 2",
                                                "Threads per block: 256",
                                                "Case file (file0): " + cases + " (* B)",
                                                "Control file (file1): " + controls + " (* B)",
                                                "Reading case file (file0): " + cases,
                                                "Case file: 5 SNPs, 20 samples",
                                                "Reading control file (file1): " + controls,
                                                "Control file: 5 SNPs, 30 samples",
                                                "File reading time: [0-9].[0-9][0-9][0-9] seconds",
                                                "Case mask words: 1",
                                                "Control mask words: 1",
                                                "Total SNP pairs: 10",
                                                "Total GPU memory: *.??? GB",
                                                "Available GPU memory: *.??? GB",
                                                "Group size: 100 rows",
                                                "Number of groups: 1",
                                                "Max batch items: *",
                                                "Number of groups: 1",
                                                "Allocating *.??? GB for results buffer",
                                                "Starting within-group calculations...",
                                                "Processing within-group 0 (5 SNPs)...",
                                                "Within-group 0 completed: 10 pairs processed",
                                                "Starting between-group calculations...",
                                                std::string(40, '-'),
                                                "=== Time Statistics ===",
                                                "Total time: *.??? seconds",
                                                "File reading: *.??? seconds",
                                                "Computation: *.??? seconds",
                                                "Total valid results: *",
                                                "Program finished at: *",
                                                "=== Analysis Completed ===",
                                                "Nine-genotype interaction analysis completed successfully!",
                                                "Output file: " + out,
                                                "Log file: " + dir.file("gi.log")}));
  const std::string log = read_file(dir.file("gi.log"));
  EXPECT_EQ(log, kBom + r.out.substr(0, r.out.find("Nine-genotype interaction analysis")));
}

TEST_F(GenotypeInteraction, ThresholdsOfZeroAndOneAlpha) {
  make_tables(6, 10, 10);
  const auto everything = run({"-alpha_cut", "1", "-or_cut", "1e-30"});  // no interval reaches 1e30
  ASSERT_EQ(everything.status, 0);
  EXPECT_NE(everything.out.find("Chi-square threshold: 0\n"), std::string::npos);
  EXPECT_NE(everything.out.find("Total valid results: 135\n"), std::string::npos) << "every label of 15 pairs";
  const auto nothing = run({"-alpha_cut", "0"});
  EXPECT_NE(nothing.out.find("Chi-square threshold: inf\n"), std::string::npos);
  EXPECT_NE(nothing.out.find("Total valid results: 0\n"), std::string::npos);
  EXPECT_EQ(read_file(out), "Genotype_Label\tSNP0\tSNP1\ta\tb\tc\td\tchi_square\tchi_pvalue\tOR\tOR_lower\tOR_upper\n");
}

TEST_F(GenotypeInteraction, InputProblemsStopTheRunBeforeAnyOutput) {
  make_tables(6, 10, 10);
  struct Case {
    std::string cases, controls, line;
  };
  const std::string empty = dir.write("empty.txt", "");
  const std::string blank = dir.write("blank.txt", "\n\n");
  const std::string seven = dir.write("seven.txt", random_case_control_table(rng, 7, 10, false));
  const Case cases_[] = {
      {empty, controls, "Error reading case file: Failed to create file mapping: " + empty + "\n"},
      {cases, dir.file("missing.txt"),
       "Error reading control file: Failed to open file: " + dir.file("missing.txt") + ": No such file or directory\n"},
      {cases, blank, "Error reading control file: The table has no samples (every line is empty): " + blank + "\n"},
      {cases, seven, "Error: Number of SNPs in control and case files must be the same!\n"},
  };
  for (const Case& c : cases_) {
    cases = c.cases;
    controls = c.controls;
    const auto r = run();
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.out.ends_with(c.line)) << r.out;
    EXPECT_FALSE(varpair::test::file_exists(out));
  }
}

TEST_F(GenotypeInteraction, SetUpFailuresStopTheRun) {
  make_tables(6, 10, 10);
  struct Case {
    Op op;
    int skip;
    cudaError_t error;
    std::string line;
  };
  const Case cases_[] = {
      {Op::GetDeviceCount, 0, cudaErrorNoDevice, "No CUDA-capable GPU found\n"},
      {Op::MemcpyToSymbol, 0, cudaErrorInvalidSymbol, "Error: Failed to set constant memory for control columns\n"},
      {Op::MemcpyToSymbol, 1, cudaErrorInvalidSymbol, "Error: Failed to set constant memory for case columns\n"},
      {Op::MemcpyToSymbol, 2, cudaErrorInvalidSymbol,
       "Error: Failed to set constant memory for chi-square threshold\n"},
      {Op::MemcpyToSymbol, 3, cudaErrorInvalidSymbol, "Error: Failed to set constant memory for OR threshold\n"},
      {Op::Malloc, 0, cudaErrorMemoryAllocation, "Error: Failed to allocate GPU memory for results\n"},
      {Op::Malloc, 1, cudaErrorMemoryAllocation, "Error: Failed to allocate GPU memory for valid count\n"},
  };
  for (const Case& c : cases_) {
    varpair::device::testing::reset();
    fail_calls(c.op, c.error, 1, c.skip);
    const auto r = run();
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.out.ends_with(c.line)) << r.out;
    EXPECT_EQ(varpair::device::testing::live_allocations(), 0u);
  }
  varpair::device::testing::reset();
  const auto wrong_gpu = run({"-set_gpu", "2"});
  EXPECT_EQ(wrong_gpu.status, 1);
  EXPECT_TRUE(wrong_gpu.out.ends_with("Failed to set GPU device 2: invalid device ordinal\n"));
  EXPECT_NE(read_file(dir.file("gi.log")).find("Failed to set GPU device 2: "), std::string::npos) << "in the log too";

  varpair::device::testing::reset();
  varpair::device::testing::set_memory_budget(500);  // a mask budget of 25 bytes: not one row of 48
  const auto tiny = run();
  EXPECT_TRUE(tiny.out.ends_with("ERROR: Failed to calculate group size due to memory constraints\n")) << tiny.out;

  varpair::device::testing::reset();
  out = dir.file("no_dir/out.txt");
  EXPECT_TRUE(run().out.ends_with("Error: Cannot create output file!: No such file or directory\n"));
}

TEST_F(GenotypeInteraction, DeviceFailuresInsideThePassesLoseOnlyTheirGroupAndSaySo) {
  make_tables(250, 20, 20);  // two groups of 125: launches within 0, within 1, between 0 and 1
  struct Case {
    Op op;
    int skip;
    std::string line;
  };
  const Case cases_[] = {
      {Op::Memset, 0, "ERROR: cudaMemset failed\n"},
      {Op::Launch, 0, "Kernel launch failed: unspecified launch failure\n"},
      {Op::Launch, 2, "ERROR: Between-group kernel launch failed: unspecified launch failure\n"},
      {Op::DeviceSynchronize, 0, "ERROR: Within-group kernel execution failed\n"},
      {Op::DeviceSynchronize, 2, "ERROR: Between-group kernel execution failed\n"},
      // Copies of a within-group pass: per sample set three mask arrays and the genotype totals, then
      // the valid count and the records.
      {Op::Memcpy, 8, "ERROR: cudaMemcpy valid_count failed\n"},
      {Op::Memcpy, 9, "ERROR: cudaMemcpy results failed\n"},
      {Op::Malloc, 2, "Error processing group 0: Failed to allocate GPU memory for mask0\n"},
      {Op::Memcpy, 3,
       "Error processing group 0: CUDA memory copy for genotype totals failed: unspecified launch failure\n"},
      {Op::Memcpy, 21,
       "Error processing groups 0 and 1: CUDA memory copy for mask1 failed: unspecified launch "
       "failure\n"},
  };
  for (const Case& c : cases_) {
    varpair::device::testing::reset();
    fail_calls(c.op, cudaErrorLaunchFailure, 1, c.skip);
    const auto r = run({"-alpha_cut", "1", "-or_cut", "1e-30"});
    EXPECT_EQ(r.status, 1) << c.line;
    EXPECT_NE(r.out.find(c.line), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("=== Analysis Completed ==="), std::string::npos) << "the run goes on";
    EXPECT_NE(r.out.find("\nError: The results are incomplete: "), std::string::npos);
  }
}

}  // namespace
