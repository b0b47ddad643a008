// Whole LD runs checked against the independent computation of ld_reference.h: every value of the
// text table, the part files and the distribution; one batch against many; every failure path.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <sstream>

#include "device/host_testing.h"
#include "ld/ld_reference.h"
#include "support/test_support.h"

namespace {

using varpair::device::testing::fail_calls;
using varpair::device::testing::Op;
using varpair::test::kBom;
using varpair::test::read_file;
using varpair::test::run_varpair;
using varpair::test::SameText;
using varpair::test::TempDir;

// A random table whose rows often copy or echo rows of `source`, so that strong LD is common.
std::string random_table(std::mt19937& rng, int rows, int samples, const varpair::test::Genotypes* source) {
  std::ostringstream text;
  for (int r = 0; r < rows; ++r) {
    const bool copy = source != nullptr && rng() % 3 == 0;
    const auto& src = copy ? (*source)[rng() % source->size()] : std::vector<int>();
    const int p = 1 + static_cast<int>(rng() % 4);
    for (int s = 0; s < samples; ++s) {
      int g = copy && rng() % 10 != 0
                  ? src[s]
                  : static_cast<int>((rng() % 5 < static_cast<unsigned>(p)) + (rng() % 5 < static_cast<unsigned>(p)));
      if (rng() % 40 == 0) g = 3;
      text << (s ? " " : "") << (g == 3 ? "NA" : std::to_string(g));
    }
    text << "\n";
  }
  return text.str();
}

float reference_value(bool dprime, const std::vector<int>& x, const std::vector<int>& y) {
  const auto c = varpair::test::reference_counts(x, y);
  return dprime ? varpair::test::reference_dprime(c) : varpair::test::reference_r2(c);
}

std::string fixed6(double v) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.6f", v);
  return buffer;
}

std::uint16_t reference_code(float v) {
  if (v == -1.0f) return 65535;
  const int q = static_cast<int>(v * 1000.0f + 0.5f);
  return static_cast<std::uint16_t>(std::min(q & 0xFFFF, 1000));
}

// Values of all pairs, decoded from a parts directory with the metadata file's row counts.
std::map<std::uint64_t, std::uint16_t> read_parts(const std::string& directory) {
  std::map<std::uint64_t, std::uint16_t> codes;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    if (entry.path().filename().string().rfind("part_", 0) != 0) continue;
    const std::string bytes = read_file(entry.path().string());
    auto u64 = [&](std::size_t at) {
      std::uint64_t v = 0;
      for (int b = 7; b >= 0; --b) v = v << 8 | static_cast<unsigned char>(bytes[at + b]);
      return v;
    };
    const std::uint64_t first = u64(0), n = u64(8);
    EXPECT_EQ(bytes.size(), 16 + 2 * n) << entry.path();
    for (std::uint64_t k = 0; k < n; ++k)
      codes[first + k] = static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[16 + 2 * k]) |
                                                    static_cast<unsigned char>(bytes[17 + 2 * k]) << 8);
  }
  return codes;
}

class LdRun : public ::testing::Test {
 protected:
  varpair::device::testing::Scope device_scope;
  TempDir dir;
  std::mt19937 rng{2026};
  std::string text0, text1, file0, file1;
  varpair::test::Genotypes g0, g1;

  void make_tables(int rows0, int rows1, int samples) {
    text0 = random_table(rng, rows0, samples, nullptr);
    g0 = varpair::test::reference_genotypes(text0);
    text1 = random_table(rng, rows1, samples, &g0);
    g1 = varpair::test::reference_genotypes(text1);
    file0 = dir.write("t0.txt", text0);
    file1 = dir.write("t1.txt", text1);
  }

  varpair::test::RunResult run(const std::string& command, const std::string& out, std::vector<std::string> extra) {
    std::vector<std::string> args = {command, "-file0", file0, "-file1", file1, "-o", out};
    args.insert(args.end(), extra.begin(), extra.end());
    return run_varpair(args);
  }

  // The text table the definition gives for a cut-off.
  std::string expected_text(bool dprime, float cut) {
    std::string text = kBom + (dprime ? "SNP0\tSNP1\tDprime\n" : "SNP0\tSNP1\tr2\n");
    for (std::size_t i = 0; i < g0.size(); ++i)
      for (std::size_t j = 0; j < g1.size(); ++j) {
        const float v = reference_value(dprime, g0[i], g1[j]);
        if (v >= cut && v != -1.0f) text += std::to_string(i) + "\t" + std::to_string(j) + "\t" + fixed6(v) + "\n";
      }
    return text;
  }
};

TEST_F(LdRun, TextTablesHoldExactlyThePairsAtOrAboveTheCutoff) {
  make_tables(41, 29, 97);
  for (const bool dprime : {false, true}) {
    const std::string out = dir.file(dprime ? "dprime.txt" : "r2.txt");
    const auto r =
        run(dprime ? "interChromLDdprime" : "interChromLDr2", out, {dprime ? "-dprime_cut" : "-r2_cut", "0.35"});
    ASSERT_EQ(r.status, 0) << r.out;
    const std::string expected = expected_text(dprime, 0.35f);
    ASSERT_GT(std::count(expected.begin(), expected.end(), '\n'), 5) << "the tables have strong LD";
    EXPECT_TRUE(SameText(read_file(out), expected));
  }
}

// Rows without a missing genotype take most counts from their totals; where the device has no room
// left for the totals (the allocation of file0's, the sixth, or file1's fails), every pair is
// counted in full. The tables are the definition's either way.
TEST_F(LdRun, CompleteRowsGiveTheDefinitionsTablesWithAndWithoutTheirTotals) {
  auto complete = [](std::string text) {
    for (std::size_t at; (at = text.find("NA")) != std::string::npos;) text.replace(at, 2, "1");
    return text;
  };
  text0 = complete(random_table(rng, 37, 300, nullptr));
  g0 = varpair::test::reference_genotypes(text0);
  text1 = complete(random_table(rng, 23, 300, &g0));
  g1 = varpair::test::reference_genotypes(text1);
  file0 = dir.write("t0.txt", text0);
  file1 = dir.write("t1.txt", text1);
  for (const int failing : {-1, 5, 6}) {
    for (const bool dprime : {false, true}) {
      varpair::device::testing::reset();
      if (failing >= 0) fail_calls(Op::Malloc, cudaErrorMemoryAllocation, 1, failing);
      const std::string out = dir.file(dprime ? "dprime.txt" : "r2.txt");
      const auto r =
          run(dprime ? "interChromLDdprime" : "interChromLDr2", out, {dprime ? "-dprime_cut" : "-r2_cut", "0.3"});
      ASSERT_EQ(r.status, 0) << r.out;
      EXPECT_TRUE(SameText(read_file(out), expected_text(dprime, 0.3f))) << "failing allocation " << failing;
    }
  }
}

TEST_F(LdRun, AValueExactlyAtTheCutoffIsInTheTable) {
  make_tables(41, 29, 97);
  for (const bool dprime : {false, true}) {
    // A cut-off that equals some pair's value to the last bit: 9 digits give the float back.
    std::vector<float> values;
    for (std::size_t i = 0; i < g0.size(); ++i)
      for (std::size_t j = 0; j < g1.size(); ++j)
        if (const float v = reference_value(dprime, g0[i], g1[j]); v > 0.05f && v < 1.0f) values.push_back(v);
    ASSERT_FALSE(values.empty());
    std::sort(values.begin(), values.end());
    const float cut = values[values.size() / 2];
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", cut);
    const std::string out = dir.file("at.txt");
    const auto r =
        run(dprime ? "interChromLDdprime" : "interChromLDr2", out, {dprime ? "-dprime_cut" : "-r2_cut", text});
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(SameText(read_file(out), expected_text(dprime, cut)));
    const std::string at_cut = fixed6(cut);
    EXPECT_NE(read_file(out).find(at_cut), std::string::npos) << "the pair at the cut-off";
  }
}

TEST_F(LdRun, ManySmallBatchesWriteTheSameBytesAsOne) {
  make_tables(37, 23, 70);
  const auto one = run("interChromLDr2", dir.file("one.txt"), {"-r2_cut", "0.2", "-distribution", dir.file("d1.txt")});
  ASSERT_EQ(one.status, 0);
  EXPECT_NE(one.out.find("Batch 1: 851 pairs"), std::string::npos);
  // Room for about 100 pairs a batch beside the two matrices and the histogram.
  varpair::device::testing::set_memory_budget(37 * 18 + 23 * 18 + 8008 + 8 + 2300);
  const auto many = run("interChromLDr2", dir.file("many.txt"),
                        {"-r2_cut", "0.2", "-distribution", dir.file("d2.txt"), "-threads", "32"});
  ASSERT_EQ(many.status, 0) << many.out;
  EXPECT_NE(many.out.find("Batch 9: "), std::string::npos) << many.out;
  EXPECT_TRUE(SameText(read_file(dir.file("many.txt")), read_file(dir.file("one.txt"))));
  EXPECT_TRUE(SameText(read_file(dir.file("d2.txt")), read_file(dir.file("d1.txt"))));
}

TEST_F(LdRun, PartFilesHoldEveryValueInPairOrder) {
  make_tables(19, 31, 45);
  for (const bool dprime : {false, true}) {
    const std::string out = dir.file(dprime ? "dp" : "r2");
    varpair::device::testing::set_memory_budget(19 * 12 + 31 * 12 + 700);  // several batches
    const auto r = run(dprime ? "interChromLDdprime" : "interChromLDr2", out,
                       {dprime ? "-dprime_cut" : "-r2_cut", "0", "-threads", "16"});
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_FALSE(varpair::test::file_exists(out)) << "binary mode writes no text table";
    const std::string meta = read_file(out + ".meta");
    EXPECT_EQ(meta.rfind(kBom + "19\n31\n" + out + "_parts\nrun ", 0), 0u) << meta;
    EXPECT_EQ(meta.substr(meta.size() - 33), read_file(out + "_parts/run.id")) << "the parts belong to this run";
    const auto codes = read_parts(out + "_parts");
    ASSERT_EQ(codes.size(), 19u * 31u);
    for (std::size_t i = 0; i < 19; ++i)
      for (std::size_t j = 0; j < 31; ++j)
        ASSERT_EQ(codes.at(i * 31 + j), reference_code(reference_value(dprime, g0[i], g1[j]))) << i << "," << j;
  }
}

TEST_F(LdRun, TheDistributionCountsEveryPairAgainstAllPairs) {
  make_tables(23, 17, 33);
  text0 += "NA NA\n";  // a SNP without genotypes: its pairs have no value
  file0 = dir.write("t0.txt", text0);
  g0 = varpair::test::reference_genotypes(text0);
  const auto r = run("interChromLDdprime", dir.file("o.txt"), {"-distribution", dir.file("dist.txt")});
  ASSERT_EQ(r.status, 0) << r.out;
  std::array<std::uint64_t, 1001> bins{};
  std::uint64_t missing = 0;
  for (const auto& x : g0)
    for (const auto& y : g1) {
      const float v = reference_value(true, x, y);
      if (v == -1.0f)
        ++missing;
      else
        ++bins[std::min(static_cast<int>(v * 1000.0f), 1000)];
    }
  EXPECT_EQ(missing, 17u);
  const std::string dist = read_file(dir.file("dist.txt"));
  std::istringstream lines(dist.substr(kBom.size()));
  std::string line;
  std::getline(lines, line);
  EXPECT_EQ(line, "Start\tEnd\tCount\tFrequency\tCumulative");
  std::getline(lines, line);
  const double pairs = 24.0 * 17.0;
  EXPECT_EQ(line, "MISSING\tMISSING\t17\t" + fixed6(17 / pairs) + "\t" + fixed6(17 / pairs));
  double cumulative = 17 / pairs;
  for (int i = 0; i <= 1000; ++i) {
    std::getline(lines, line);
    cumulative += bins[i] / pairs;
    ASSERT_EQ(line, fixed6(i * 0.001) + "\t" + fixed6(i == 1000 ? 1.001 : (i + 1) * 0.001) + "\t" +
                        std::to_string(bins[i]) + "\t" + fixed6(bins[i] / pairs) + "\t" + fixed6(cumulative));
  }
  EXPECT_FALSE(std::getline(lines, line));
  EXPECT_NE(r.out.find("Distribution stats: 408 pairs (100.00% of total)\n"), std::string::npos) << r.out;
}

TEST_F(LdRun, SmallBatchesReportTheirProgress) {
  file0 = dir.write("a.txt", "0 1 2 2\n2 1 0 0\n1 1 2 0\n");
  file1 = dir.write("b.txt", "0 1 2 2\n2 2 0 1\n");
  // Two matrices of 3 and 2 bytes and 100 bytes free: 70 / 16 = 4 pairs a batch with 2 threads.
  varpair::device::testing::set_memory_budget(105);
  const auto r = run("interChromLDr2", dir.file("o.txt"), {"-threads", "2"});
  ASSERT_EQ(r.status, 0);
  EXPECT_TRUE(varpair::test::LinesMatch(
      r.out.substr(r.out.find("Max batch items")),
      {"Max batch items: 4 (*)", "Batch 1: 4 pairs (* ms)", "  Filtering: * records (* ms)", "  Copy: * ms",
       "  Progress: 66.67%", "Batch 2: 2 pairs (* ms)", "  Filtering: * records (* ms)", "  Copy: * ms",
       "  Progress: 100.00%", "Computation time: *.?? seconds", "Total filtered records: *",
       "Program finished successfully at: *"}));
}

TEST_F(LdRun, LargeBatchesAreCutIntoPartsOfTheCommandsSize) {
  // 1001 x 1000 pairs: parts of 1,000,000 pairs for r2, one part for D'.
  std::string a, b;
  for (int r = 0; r < 1001; ++r) a += std::to_string(r % 3) + " 1 0 2\n";
  for (int r = 0; r < 1000; ++r) b += std::to_string(r % 2) + " 2 1 0\n";
  file0 = dir.write("a.txt", a);
  file1 = dir.write("b.txt", b);
  const auto r2 = run("interChromLDr2", dir.file("r2"), {"-r2_cut", "0"});
  ASSERT_EQ(r2.status, 0);
  EXPECT_NE(r2.out.find("  Created part: " + dir.file("r2_parts/part_0.bin") +
                        " (1000000 pairs)\n  Created part: " + dir.file("r2_parts/part_1.bin") + " (1000 pairs)\n"),
            std::string::npos)
      << r2.out;
  const auto dp = run("interChromLDdprime", dir.file("dp"), {"-dprime_cut", "0"});
  EXPECT_NE(dp.out.find("  Created part: " + dir.file("dp_parts/part_0.bin") + " (1001000 pairs)\n"),
            std::string::npos);
  EXPECT_EQ(read_parts(dir.file("r2_parts")).size(), 1001000u);
}

TEST_F(LdRun, ARunIntoAnExistingPartsDirectoryReplacesItsPartFiles) {
  make_tables(5, 4, 12);
  std::filesystem::create_directory(dir.file("o_parts"));
  dir.write("o_parts/part_7.bin", "stale");
  dir.write("o_parts/notes.txt", "kept");
  const auto r = run("interChromLDr2", dir.file("o"), {"-r2_cut", "0"});
  ASSERT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("Directory already exists: " + dir.file("o_parts") +
                       "\nCreating output directory: " + dir.file("o_parts") + "\n"),
            std::string::npos);
  EXPECT_FALSE(varpair::test::file_exists(dir.file("o_parts/part_7.bin")));
  EXPECT_TRUE(varpair::test::file_exists(dir.file("o_parts/notes.txt")));
  EXPECT_EQ(read_parts(dir.file("o_parts")).size(), 20u);
}

// The failure paths: each prints its line on console and log, releases the device, and exits 1.
class LdRunFailure : public LdRun {
 protected:
  void SetUp() override { make_tables(6, 5, 20); }

  void expect_failure(const varpair::test::RunResult& r, const std::string& out, const std::string& line) {
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find(line), std::string::npos) << "missing \"" << line << "\" in\n" << r.out;
    EXPECT_EQ(read_file(out + ".log"), kBom + r.out);
    EXPECT_EQ(varpair::device::testing::live_allocations(), 0u);
  }
};

TEST_F(LdRunFailure, SetUpFailuresStopTheRun) {
  struct Case {
    Op op;
    int skip;
    std::vector<std::string> extra;
    std::string line;
  };
  const std::vector<Case> cases = {
      {Op::Malloc, 2, {"-distribution", dir.file("d.txt")}, "Failed to allocate histogram memory: out of memory\n"},
      {Op::Malloc, 3, {"-distribution", dir.file("d.txt")}, "Failed to allocate missing count memory: out of memory\n"},
      {Op::MemGetInfo, 1, {}, "Failed to get GPU memory info: out of memory\n"},
      {Op::Malloc, 2, {}, "cudaMalloc device_results failed: out of memory\n"},
      {Op::Malloc, 3, {}, "cudaMalloc d_filtered_records failed: out of memory\n"},
      {Op::Malloc, 4, {}, "cudaMalloc d_count failed: out of memory\n"},
  };
  for (const Case& c : cases) {
    varpair::device::testing::reset();
    fail_calls(c.op, cudaErrorMemoryAllocation, 1, c.skip);
    const std::string out = dir.file("o.txt");
    const auto r = run("interChromLDr2", out, c.extra);
    expect_failure(r, out, c.line);
    EXPECT_EQ(r.out.find("Computation time"), std::string::npos);
  }
}

TEST_F(LdRunFailure, OutputsThatCannotBeCreatedStopTheRun) {
  // Without the output's directory there is no log either: the console has the report.
  const auto r = run("interChromLDr2", dir.file("nodir/o"), {"-r2_cut", "0"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.out.ends_with("Failed to create directory: " + dir.file("nodir/o_parts") +
                              " (Error: 2): No such file or directory\n"))
      << r.out;
  std::filesystem::create_directory(dir.file("o_dir"));
  const auto refused = run("interChromLDr2", dir.file("o_dir"), {});
  EXPECT_EQ(refused.err, "Error: -o is a directory: " + dir.file("o_dir") + " (give the name of a file in it)\n")
      << "refused before anything is read";
  EXPECT_FALSE(varpair::test::file_exists(dir.file("o_dir.log")));
  dir.write("p_parts", "a file where the directory would go");
  expect_failure(run("interChromLDr2", dir.file("p"), {"-r2_cut", "0"}), dir.file("p"),
                 "Failed to create directory: " + dir.file("p_parts") + " (Error: 17): Not a directory\n");
}

TEST_F(LdRunFailure, AFailedKernelLeavesTheLoopAndTheRunSaysItsResultsAreIncomplete) {
  fail_calls(Op::Launch, cudaErrorLaunchOutOfResources);
  const std::string out = dir.file("o.txt");
  const auto r = run("interChromLDr2", out, {});
  expect_failure(r, out, "Kernel launch failed: too many resources requested for launch\nComputation time: ");
  EXPECT_TRUE(r.out.ends_with("Error: The results are incomplete: a kernel launch failed\n")) << r.out;
  EXPECT_FALSE(varpair::test::file_exists(out)) << "a table that lost pairs is not put in place";
}

TEST_F(LdRunFailure, AFailedFilterLeavesTheLoop) {
  fail_calls(Op::Launch, cudaErrorLaunchFailure, 1, 1);  // the compute launch passes, the filter fails
  const std::string out = dir.file("o.txt");
  const auto r = run("interChromLDr2", out, {});
  expect_failure(r, out, "CUDA error during filtering: unspecified launch failure\n");
  EXPECT_TRUE(r.out.ends_with("Error: The results are incomplete: filtering failed\n"));
}

TEST_F(LdRunFailure, DeviceCopyFailuresAreNotSilent) {
  fail_calls(Op::MemcpyAsync, cudaErrorIllegalAddress, 1, 2);  // two table loads, then the batch copy
  const std::string out = dir.file("o");
  expect_failure(run("interChromLDr2", out, {"-r2_cut", "0"}), out,
                 "CUDA memory copy failed: an illegal memory access was encountered\n");
}

TEST_F(LdRunFailure, ZeroPairsABatchIsAFailedLaunch) {
  varpair::device::testing::set_memory_budget(6 * 5 + 5 * 5 + 20);
  const std::string out = dir.file("o.txt");
  expect_failure(run("interChromLDr2", out, {}), out,
                 "Max batch items: 0 (0 GB)\nKernel launch failed: invalid configuration argument\n");
}

TEST_F(LdRunFailure, UnwritableMetadataAndDistributionFilesAreReportedAndNothingGoesInPlace) {
  const std::string out = dir.file("o");
  std::filesystem::create_directories(dir.file("o.meta"));
  const auto r = run("interChromLDr2", out, {"-r2_cut", "0", "-distribution", dir.file("no/dist.txt")});
  expect_failure(r, out,
                 "Error opening distribution file: " + dir.file("no/dist.txt") +
                     ": No such file or directory\nDistribution saved to: " + dir.file("no/dist.txt"));
  EXPECT_NE(r.out.find("Failed to create metadata file: " + dir.file("o.meta") + ": Is a directory\n"),
            std::string::npos);
  EXPECT_TRUE(
      r.out.ends_with("Error: The results are incomplete: the distribution file was not written; the "
                      "metadata file was not written\n"))
      << r.out;
  EXPECT_FALSE(varpair::test::file_exists(dir.file("o_parts"))) << "parts without their metadata would mislead";
}

}  // namespace
