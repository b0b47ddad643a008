// The interaction tables are sorted whole: past the records a run sorts in memory (made small
// here), every model, with and without covariates, writes the same bytes from one run, from a run
// under another group and batch plan, and from its shards merged; and a table that fits in memory
// is the same file as a spilled one.
#include <gtest/gtest.h>

#include <filesystem>

#include "device/host_testing.h"
#include "interaction/table_testing.h"
#include "support/test_support.h"

namespace {

using varpair::test::read_file;
using varpair::test::run_varpair;
using varpair::test::TempDir;

const std::string kExamples = std::string(VARPAIR_TEST_DATA) + "/../../examples/";

struct RunLengthScope {
  explicit RunLengthScope(std::size_t n) { varpair::testing::set_table_run_length(n); }
  ~RunLengthScope() { varpair::testing::set_table_run_length(0); }
};

struct Case {
  std::string command;
  std::vector<std::string> options;
  std::vector<std::string> side;  // side outputs compared too
  std::size_t budget = 20000;     // device memory of the run under another plan
};

std::uint64_t records_of(const std::string& log) {
  const std::string label = "Total valid results: ";
  const std::size_t at = log.find(label);
  EXPECT_NE(at, std::string::npos) << log;
  return at == std::string::npos ? 0 : std::stoull(log.substr(at + label.size()));
}

// The table and side outputs of a run with -o `out`.
std::string outputs(const std::string& out, const Case& c) {
  std::string text = read_file(out);
  for (const std::string& suffix : c.side) text += "\n== " + suffix + "\n" + read_file(out + suffix);
  return text;
}

TEST(TableOrder, EveryPlanAndShardMergeWriteTheSameBytesPastTheRunLength) {
  const varpair::device::testing::Scope device_scope;
  const std::string cc = kExamples + "cc.cases.txt", controls = kExamples + "cc.controls.txt";
  const std::vector<Case> cases{
      {"genotype_interaction", {"-file0", cc, "-file1", controls, "-alpha_cut", "0.05", "-or_cut", "1"}, {}},
      {"mdr_interaction", {"-file0", kExamples + "cc.bed", "-alpha_cut", "0.1", "-or_cut", "1"}, {}},
      {"domrec_interaction", {"-file0", cc, "-file1", controls, "-alpha_cut", "0.1", "-or_cut", "1"}, {}},
      {"boost_interaction", {"-file0", kExamples + "cc.bed", "-alpha_cut", "0.3"}, {".summary"}, 60000},
      {"genotype_interaction",
       {"-file0", kExamples + "strat.bed", "-covar", kExamples + "strat.covar", "-alpha_cut", "0.002", "-or_cut", "1"},
       {}},
      {"qt_interaction",
       {"-file0", kExamples + "qt.bed", "-pheno", kExamples + "qt.pheno", "-covar", kExamples + "qt.covar",
        "-alpha_cut", "0.01"},
       {".summary"},
       700000},
  };
  constexpr std::size_t kRunLength = 40;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command + " " + c.options[1] + " " + c.options[c.options.size() - 3]);
    const TempDir dir;
    const auto run = [&](const std::string& name, std::vector<std::string> extra = {}) {
      std::vector<std::string> args{c.command};
      args.insert(args.end(), c.options.begin(), c.options.end());
      args.insert(args.end(), {"-o", dir.file(name)});
      args.insert(args.end(), extra.begin(), extra.end());
      const auto r = run_varpair(args);
      EXPECT_EQ(r.status, 0) << r.out << r.err;
      return r;
    };
    const auto in_memory = run("memory.txt");
    const std::string expected = outputs(dir.file("memory.txt"), c);
    const std::uint64_t records = records_of(in_memory.out);
    EXPECT_GT(records, 3 * kRunLength) << "too few records to spill several runs";

    const RunLengthScope small_runs(kRunLength);
    run("one.txt");
    EXPECT_TRUE(varpair::test::SameText(outputs(dir.file("one.txt"), c), expected)) << "spilled runs, one plan";
    {
      // Groups of a few rows and batches of a few pairs: the records come in another order.
      varpair::device::testing::set_memory_budget(c.budget);
      const auto r = run("plan.txt", {"-threads", "32"});
      EXPECT_EQ(r.out.find("Number of groups: 1\n"), std::string::npos) << "the plan did not change";
      EXPECT_TRUE(varpair::test::SameText(outputs(dir.file("plan.txt"), c), expected)) << "another plan";
      varpair::device::testing::reset();
    }
    for (const int n : {1, 3}) {
      const std::string merged = "merged" + std::to_string(n) + ".txt";
      for (int k = 1; k <= n; ++k) run(merged, {"-parallel", std::to_string(k), std::to_string(n)});
      const auto m = run_varpair({"merge", "-o", dir.file(merged), "-parallel", std::to_string(n)});
      ASSERT_EQ(m.status, 0) << m.out << m.err;
      EXPECT_TRUE(varpair::test::SameText(outputs(dir.file(merged), c), expected)) << n << " shards merged";
    }
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
      EXPECT_EQ(entry.path().filename().string().find(".partial-"), std::string::npos)
          << "left behind: " << entry.path();
  }
}

}  // namespace
