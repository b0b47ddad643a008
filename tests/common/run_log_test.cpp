#include "common/run_log.h"

#include <gtest/gtest.h>

#include <iomanip>

#include "support/test_support.h"

namespace {

using varpair::eol;
using varpair::RunLog;
using varpair::test::CapturedOutput;
using varpair::test::kBom;
using varpair::test::read_file;
using varpair::test::TempDir;

TEST(RunLog, TeesEveryWriteToConsoleAndLogAfterAByteOrderMark) {
  TempDir dir;
  CapturedOutput captured;
  {
    RunLog log(dir.file("run.log"));
    ASSERT_TRUE(log.is_open());
    log << "Rows: " << 42 << ", " << 7u << ", " << (std::uint64_t{1} << 40) << ", " << std::int64_t{-3} << eol;
    log << "Value: " << 0.8f << " " << 2.0 / 3.0 << eol;
  }
  const std::string expected = "Rows: 42, 7, 1099511627776, -3\nValue: 0.8 0.666667\n";
  EXPECT_EQ(captured.out(), expected);
  EXPECT_EQ(read_file(dir.file("run.log")), kBom + expected);
}

TEST(RunLog, LogIsCompleteAfterEveryWriteWithoutClosing) {
  TempDir dir;
  CapturedOutput captured;
  RunLog log(dir.file("run.log"));
  log << "partial";
  EXPECT_EQ(read_file(dir.file("run.log")), kBom + "partial");
}

TEST(RunLog, FormatsPersistOnBothStreams) {
  TempDir dir;
  CapturedOutput captured;
  {
    RunLog log(dir.file("run.log"));
    log << 1.0 / 3.0 << eol;
    log << std::fixed << std::setprecision(2) << 66.666 << "%" << eol;
    log << 1.5 << eol;  // the fixed, 2-decimal format stays in force
    log << std::setw(4) << std::setfill('0') << 7 << eol;
  }
  const std::string expected = "0.333333\n66.67%\n1.50\n0007\n";
  EXPECT_EQ(captured.out(), expected);
  EXPECT_EQ(read_file(dir.file("run.log")), kBom + expected);
}

TEST(RunLog, AnUnopenableLogWarnsOnceAndTheConsoleStillGetsEverything) {
  TempDir dir;
  CapturedOutput captured;
  const std::string path = dir.file("no-such-dir/run.log");
  RunLog log(path);
  EXPECT_FALSE(log.is_open());
  EXPECT_FALSE(log.intact());
  log << "still reported" << eol;
  EXPECT_EQ(captured.err(), "Error opening log file: " + path + ": No such file or directory\n");
  EXPECT_EQ(captured.out(), "still reported\n");
}

TEST(RunLog, AFullDiskIsReportedOnceAndTheRunGoesOn) {
  if (!varpair::test::file_exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  CapturedOutput captured;
  RunLog log("/dev/full");
  log << "a" << eol << "b" << eol;
  EXPECT_EQ(captured.out(), "a\nb\n");
  EXPECT_NE(captured.err().find("Error writing log file: /dev/full"), std::string::npos) << captured.err();
  EXPECT_EQ(captured.err().find("Error writing log file", captured.err().find('\n')), std::string::npos)
      << "reported once";
}

TEST(LogNames, LdAppendsDotLog) {
  EXPECT_EQ(varpair::ld_log_path("output.txt"), "output.txt.log");
  EXPECT_EQ(varpair::ld_log_path("results/run.final.txt"), "results/run.final.txt.log");
}

TEST(LogNames, InteractionReplacesTheFileNamesExtensionOnly) {
  EXPECT_EQ(varpair::interaction_log_path("output.txt"), "output.log");
  EXPECT_EQ(varpair::interaction_log_path("results/run.final.txt"), "results/run.final.log");
  EXPECT_EQ(varpair::interaction_log_path("output"), "output.log");
  EXPECT_EQ(varpair::interaction_log_path("my.dir/out"), "my.dir/out.log");
  EXPECT_EQ(varpair::interaction_log_path("./out"), "./out.log");
}

}  // namespace
