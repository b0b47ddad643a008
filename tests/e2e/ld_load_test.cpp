// LD commands from the command line to both tables on the device: header, loading lines and every
// set-up failure, reported on the console and in the log alike.
#include <gtest/gtest.h>

#include <filesystem>

#include "device/host_testing.h"
#include "support/test_support.h"

namespace {

using varpair::device::testing::fail_calls;
using varpair::device::testing::Op;
using varpair::test::kBom;
using varpair::test::read_file;
using varpair::test::run_varpair;
using varpair::test::TempDir;

class LdLoad : public ::testing::Test {
 protected:
  varpair::device::testing::Scope device_scope;
  TempDir dir;
  std::string file0 = dir.write("f0.txt", "0 0 2 2\n2 1 0 0\n1 1 1 1\n");
  std::string file1 = dir.write("f1.txt", "0 0 2 2\r\n1 1 1 1\r\n");
  std::string out = dir.file("out.txt");

  varpair::test::RunResult run(std::vector<std::string> extra = {}, const std::string& command = "interChromLDr2") {
    std::vector<std::string> args = {command, "-file0", file0, "-file1", file1, "-o", out};
    args.insert(args.end(), extra.begin(), extra.end());
    return run_varpair(args);
  }

  // The console report, which the log must repeat byte for byte after its byte-order mark.
  std::string console_matching_log(const varpair::test::RunResult& r) {
    EXPECT_EQ(read_file(out + ".log"), kBom + r.out);
    return r.out;
  }

  // The report ends with `tail`, on the console and in the log.
  void expect_report_ends_with(const varpair::test::RunResult& r, const std::string& tail) {
    EXPECT_EQ(r.status, 1);
    const std::string report = console_matching_log(r);
    ASSERT_GE(report.size(), tail.size()) << report;
    EXPECT_EQ(report.substr(report.size() - tail.size()), tail) << report;
  }

  void expect_device_released() {
    EXPECT_EQ(varpair::device::testing::live_allocations(), 0u);
    EXPECT_EQ(varpair::device::testing::bytes_in_use(), 0u);
  }
};

TEST_F(LdLoad, ReportsEveryStepOfATextRunOnConsoleAndLog) {
  const auto r = run();
  EXPECT_EQ(r.status, 0);
  const std::string report = console_matching_log(r);
  EXPECT_TRUE(varpair::test::LinesMatch(
      report, {"varpair version: 1.0",
               "Device backend: host CPU ([0-9]* threads, *)",
               "Program started at: [A-Z][a-z][a-z] [0-9][0-9] [0-9][0-9][0-9][0-9] [0-9][0-9]:[0-9][0-9]:[0-9][0-9]",
               "Command line: interChromLDr2 -file0 " + file0 + " -file1 " + file1 + " -o " + out,
               "Threads per block: 256",
               "Using r2 cutoff: 0.8",
               "Output mode: TEXT",
               "Distribution statistics: DISABLED",
               "Total GPU memory: [0-9]* GB",
               "Reading and transferring file0: " + file0,
               "File0: 3 rows, 4 cols",
               "Reading and transferring file1: " + file1,
               "File1: 2 rows, 4 cols",
               "Data loaded and transferred to GPU in [0-9]* seconds",
               "Result data size: 2.23517e-08 GB",
               "Total required GPU memory: 2.70084e-08 GB",
               "Total SNP pairs to calculate: 6",
               "Max batch items: [0-9]* ([0-9]* GB)",
               "Batch 1: 6 pairs ([0-9]* ms)",
               "  Filtering: 1 records ([0-9]* ms)",
               "  Copy: [0-9]* ms",
               "  Progress: 100.00%",
               "Computation time: [0-9]*.[0-9][0-9] seconds",
               "Total filtered records: 1",
               "Program finished successfully at: [A-Z][a-z][a-z] [0-9][0-9] [0-9][0-9][0-9][0-9] [0-9:]*"}));
  expect_device_released();
}

TEST_F(LdLoad, HeaderShowsTheDprimeCutoffBinaryModeAndDistribution) {
  const auto r =
      run({"-dprime_cut", "0", "-distribution", dir.file("dist.txt"), "-threads", "128"}, "interChromLDdprime");
  const std::string report = console_matching_log(r);
  EXPECT_NE(report.find("Command line: interChromLDdprime -file0 " + file0 + " -file1 " + file1 + " -o " + out +
                        " -dprime_cut 0 -distribution " + dir.file("dist.txt") + " -threads 128\n"),
            std::string::npos)
      << report;
  EXPECT_NE(report.find("Threads per block: 128\nUsing D' cutoff: 0\nOutput mode: BINARY (multi-threaded "
                        "encoding)\nDistribution statistics: ENABLED\nDistribution file: " +
                        dir.file("dist.txt") + "\n"),
            std::string::npos)
      << report;
  EXPECT_NE(report.find("Data loaded and transferred to GPU in "), std::string::npos);
}

TEST_F(LdLoad, DifferentSampleCountsStopAfterBothTablesAreRead) {
  file1 = dir.write("f1.txt", "0 1 2\n");
  const auto r = run();
  EXPECT_EQ(r.status, 1);
  const std::string report = console_matching_log(r);
  EXPECT_NE(report.find("File0: 3 rows, 4 cols\nReading and transferring file1: " + file1 +
                        "\nFile1: 1 rows, 3 cols\nError: Columns of two files must be the same!\n"),
            std::string::npos)
      << report;
  EXPECT_EQ(report.find("Data loaded"), std::string::npos);
  expect_device_released();
}

TEST_F(LdLoad, InputErrorsNameTheFileAndTheReason) {
  struct Case {
    std::string file0, file1, expected_tail;
  };
  const std::string missing = dir.file("missing.txt");
  const std::string empty = dir.write("empty.txt", "");
  const std::string blank = dir.write("blank.txt", "\n\n");
  const std::vector<Case> cases = {
      {missing, file1,
       "Reading and transferring file0: " + missing + "\nError processing file0: Failed to open file: " + missing +
           ": No such file or directory\n"},
      {file0, empty, "Error processing file1: Failed to create file mapping: " + empty + "\n"},
      {blank, file1, "Error processing file0: The table has no samples (every line is empty): " + blank + "\n"},
  };
  for (const Case& c : cases) {
    file0 = c.file0;
    file1 = c.file1;
    expect_report_ends_with(run(), c.expected_tail);
    expect_device_released();
  }
}

TEST_F(LdLoad, EveryDeviceFailureOfTheSetUpIsReportedAndReleasesEverything) {
  struct Case {
    Op op;
    cudaError_t error;
    int skip;
    std::string expected_tail;
  };
  const std::vector<Case> cases = {
      {Op::MemGetInfo, cudaErrorInitializationError, 0, "Failed to get GPU memory info: initialization error\n"},
      {Op::StreamCreate, cudaErrorMemoryAllocation, 0, "Failed to create CUDA stream: out of memory\n"},
      {Op::Malloc, cudaErrorMemoryAllocation, 0,
       "Error processing file0: Failed to allocate GPU memory: out of memory\n"},
      {Op::Malloc, cudaErrorMemoryAllocation, 1,
       "Error processing file1: Failed to allocate GPU memory: out of memory\n"},
      {Op::MemcpyAsync, cudaErrorIllegalAddress, 0,
       "Error processing file0: CUDA memory copy failed: an illegal memory access was encountered\n"},
      {Op::MemcpyAsync, cudaErrorLaunchFailure, 1,
       "Error processing file1: CUDA memory copy failed: unspecified launch failure\n"},
      {Op::MemcpyToSymbol, cudaErrorInvalidSymbol, 0, "cudaMemcpyToSymbol failed: invalid device symbol\n"},
  };
  for (const Case& c : cases) {
    varpair::device::testing::reset();
    fail_calls(c.op, c.error, 1, c.skip);
    expect_report_ends_with(run(), c.expected_tail);
    expect_device_released();
  }
}

TEST_F(LdLoad, BinaryGarbageLoadsAsATableOfMissingGenotypesWithoutHarm) {
  std::string garbage;
  unsigned state = 12345;
  for (int i = 0; i < 200000; ++i) {
    state = state * 1103515245u + 12345u;
    garbage += static_cast<char>(state >> 24);
  }
  file0 = dir.write("garbage0.bin", garbage);
  file1 = dir.write("garbage1.bin", garbage);
  const auto r = run();
  const std::string report = console_matching_log(r);
  EXPECT_NE(report.find("Data loaded and transferred to GPU in "), std::string::npos) << report;
  expect_device_released();
}

TEST_F(LdLoad, AnUnopenableLogLeavesTheConsoleReportAndFailsTheRun) {
  std::filesystem::create_directory(out + ".log");  // the log's name is taken by a directory
  const auto r = run();
  EXPECT_EQ(r.err.rfind("Error opening log file: " + out + ".log: Is a directory\n", 0), 0u) << r.err;
  EXPECT_NE(r.out.find("Data loaded and transferred to GPU in "), std::string::npos);
  EXPECT_EQ(r.status, 1) << "a run without its log is not a complete run";
  EXPECT_TRUE(r.err.ends_with("Error: The results are incomplete: the run log was not written\n")) << r.err;
  EXPECT_TRUE(varpair::test::file_exists(out)) << "the table itself is complete and in place";
}

}  // namespace
