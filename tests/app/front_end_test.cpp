// The command line as a user meets it: dispatch, usage text, option scan, checks and their messages.
#include <gtest/gtest.h>

#include "support/test_support.h"

namespace {

using varpair::test::run_varpair;
using varpair::test::TempDir;

const std::string kUsage = varpair::test::read_file(varpair::test::data_file("usage.txt"));

const std::string kUndefined = "Error: Undefined command-line arguments: ";

TEST(Dispatch, NoCommandPrintsTheUsageText) {
  const auto r = run_varpair({});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, kUsage);
  EXPECT_EQ(r.err, "");
}

TEST(Dispatch, HelpAndVersionAsOtherToolsGiveThem) {
  // The usage text, then every command and every option with its default.
  for (const std::vector<std::string>& args : {std::vector<std::string>{"--help"}, {"-h"}, {"help"}}) {
    const auto r = run_varpair(args);
    EXPECT_EQ(r.status, 0) << args[0];
    EXPECT_EQ(r.out.substr(0, kUsage.size()), kUsage);
    for (const char* named : {"  merge ", "  boost_interaction ", "-parallel K N", "-chr0 C, -chr1 C", "-pheno FILE",
                              "-covar FILE", "-covar_name A,B", "-estimate E", "[em20]", "[0.00001]"})
      EXPECT_NE(r.out.find(named), std::string::npos) << named;
    EXPECT_EQ(r.err, "");
  }
  // One command's options, only its own.
  struct Own {
    std::vector<std::string> args;
    const char* has;
    const char* lacks;
  };
  for (const Own& c : {Own{{"genotype_interaction", "--help"}, "-or_cut R", "-estimate"},
                       Own{{"boost_interaction", "-h"}, "-covar FILE", "-or_cut"},
                       Own{{"interChromLDr2", "-h"}, "-estimate E", "-alpha_cut"},
                       Own{{"merge", "--help"}, "-parallel N", "-threads"}}) {
    const auto r = run_varpair(c.args);
    EXPECT_EQ(r.status, 0) << c.args[0];
    EXPECT_EQ(r.out.rfind("varpair " + c.args[0] + ": ", 0), 0u) << r.out;
    EXPECT_NE(r.out.find(c.has), std::string::npos) << c.args[0];
    EXPECT_EQ(r.out.find(c.lacks), std::string::npos) << c.args[0];
  }
  const auto version = run_varpair({"--version"});
  EXPECT_EQ(version.status, 0);
#if defined(VARPAIR_CUDA)
  EXPECT_EQ(version.out, "varpair 2.0 (CUDA backend)\n");
#else
  EXPECT_EQ(version.out, "varpair 2.0 (host CPU backend)\n");
#endif
}

TEST(Dispatch, UnknownCommandsAreNamedOnTheErrorStreamBeforeTheUsage) {
  for (const std::string name : {"helpme", "interchromldr2", "interChromLDr2 ", "", "-help"}) {
    const auto r = run_varpair({name});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Unknown command: " + name + "\n");
    EXPECT_EQ(r.out, kUsage);
  }
}

TEST(Options, AnUnknownOptionOrAnOptionWithoutValueIsReportedFirst) {
  struct Case {
    std::vector<std::string> args;
    std::string offender;
  };
  const std::vector<Case> cases = {
      {{"interChromLDr2", "-file0", "a", "-threads"}, "-threads"},
      {{"interChromLDr2", "-set_gpu", "1"}, "-set_gpu"},
      {{"interChromLDdprime", "-r2_cut", "0.5"}, "-r2_cut"},
      {{"interChromLDr2", "-dprime_cut", "0.5"}, "-dprime_cut"},
      {{"genotype_interaction", "-r2_cut", "0.5", "-file0", "a"}, "-r2_cut"},
      {{"mdr_interaction", "-distribution", "d.txt"}, "-distribution"},
      {{"genotype_interaction", "-chisq_cut", "0.01"}, "-chisq_cut"},
      {{"genotype_interaction", "-file0", "a", "stray"}, "stray"},
      {{"interChromLDr2", "-FILE0", "a"}, "-FILE0"},
  };
  for (const Case& c : cases) {
    const auto r = run_varpair(c.args);
    EXPECT_EQ(r.status, 1) << c.offender;
    EXPECT_EQ(r.err, kUndefined + c.offender + "\n");
    EXPECT_EQ(r.out, "");
  }
}

TEST(Options, MissingRequiredArgumentsOfTheLdCommands) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{"interChromLDr2"},
                                               {"interChromLDr2", "-file0", "a", "-file1", "b"},
                                               {"interChromLDr2", "-o", "x", "-file1", "b", "-threads", "64"}}) {
    const auto r = run_varpair(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Missing required arguments for interChromLDr2!\n");
  }
  const auto r = run_varpair({"interChromLDdprime", "-file0", "a"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Missing required arguments for interChromLDdprime!\n");
}

TEST(Options, MissingRequiredArgumentsOfTheInteractionCommandsShowTheirUsageLine) {
  for (const std::string command : {"genotype_interaction", "mdr_interaction", "domrec_interaction"}) {
    const auto r = run_varpair({command, "-file0", "cases.txt"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Error: Missing required arguments!\nUsage: varpair " + command +
                         " -file0 case.txt -file1 control.txt -o output.txt [-alpha_cut p_value] "
                         "[-or_cut or_threshold]\n");
  }
}

TEST(Options, AlphaMustLieBetweenZeroAndOneInclusive) {
  TempDir dir;
  const std::string a = dir.write("a.txt", "0 1\n");
  const std::string b = dir.write("b.txt", "0 1\n");
  for (const std::string alpha : {"1.5", "-0.1", "1.0000001"}) {
    const auto r =
        run_varpair({"genotype_interaction", "-file0", a, "-file1", b, "-o", dir.file("o.txt"), "-alpha_cut", alpha});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "Error: -alpha_cut must be between 0 and 1 (got " + alpha + "): chisq_cut must be between 0 and 1\n");
    EXPECT_FALSE(varpair::test::file_exists(dir.file("o.log"))) << "no log before the checks pass";
  }
  const auto r = run_varpair({"domrec_interaction", "-file0", a, "-file1", b, "-o", dir.file("o.txt"), "-alpha_cut",
                              "0.1", "-chisq_cut", "2"});
  EXPECT_EQ(r.err, "Error: -chisq_cut must be between 0 and 1 (got 2): chisq_cut must be between 0 and 1\n")
      << "the option given last names itself";
  for (const std::string alpha : {"0", "1", "1e-300"}) {
    const auto r =
        run_varpair({"mdr_interaction", "-file0", a, "-file1", b, "-o", dir.file("o.txt"), "-alpha_cut", alpha});
    EXPECT_EQ(r.err.find("chisq_cut"), std::string::npos) << alpha << " is accepted";
    EXPECT_TRUE(varpair::test::file_exists(dir.file("o.log")));
  }
}

TEST(Options, NumbersMustBeNumbersInFull) {
  TempDir dir;
  const std::string a = dir.write("a.txt", "0 1\n");
  const std::vector<std::string> ld = {"interChromLDr2", "-file0", a, "-file1", a, "-o", dir.file("o.txt")};
  const std::vector<std::string> gi = {"genotype_interaction", "-file0", a, "-file1", a, "-o", dir.file("o.txt")};
  struct Case {
    std::vector<std::string> base;
    std::string option, value, expected;
  };
  const std::vector<Case> cases = {
      {ld, "-r2_cut", "abc", "(expected a finite number)"},
      {ld, "-r2_cut", "0.5x", "(expected a finite number)"},
      {ld, "-r2_cut", "nan", "(expected a finite number)"},
      {ld, "-r2_cut", "1e400", "(expected a finite number)"},
      {ld, "-threads", "12.5", "(expected a whole number)"},
      {ld, "-threads", "", "(expected a whole number)"},
      {gi, "-alpha_cut", "0.05.", "(expected a finite number)"},
      {gi, "-or_cut", "two", "(expected a finite number)"},
      {gi, "-set_gpu", "first", "(expected a whole number)"},
      {gi, "-set_gpu", "99999999999", "(expected a whole number)"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.base;
    args.insert(args.end(), {c.option, c.value});
    const auto r = run_varpair(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Error: Invalid value for " + c.option + ": '" + c.value + "' " + c.expected + "\n");
  }
}

TEST(Options, ThreadsPerBlockMustBeOneTo1024) {
  TempDir dir;
  const std::string a = dir.write("a.txt", "0 1\n");
  for (const std::string threads : {"0", "-5", "1025", "2048"}) {
    const auto r =
        run_varpair({"interChromLDdprime", "-file0", a, "-file1", a, "-o", dir.file("o"), "-threads", threads});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Error: -threads must be between 1 and 1024 (got " + threads + ")\n");
  }
}

TEST(Options, LaterValuesReplaceEarlierOnesAndOrderDoesNotMatter) {
  TempDir dir;
  const std::string a = dir.write("a.txt", "0 1\n");
  const auto r = run_varpair({"interChromLDr2", "-o", dir.file("first.txt"), "-threads", "32", "-file1", a, "-r2_cut",
                              " 0.25", "-file0", a, "-o", dir.file("second.txt")});
  EXPECT_TRUE(varpair::test::file_exists(dir.file("second.txt.log")));
  EXPECT_FALSE(varpair::test::file_exists(dir.file("first.txt.log")));
  EXPECT_NE(r.out.find("Threads per block: 32\n"), std::string::npos);
  EXPECT_NE(r.out.find("Using r2 cutoff: 0.25\n"), std::string::npos);
}

TEST(Options, OutputsNeverOverwriteInputsOrEachOther) {
  TempDir dir;
  const std::string a = dir.write("a.txt", "0 1\n");
  const std::string b = dir.write("b.txt", "0 1\n");
  struct Case {
    std::vector<std::string> args;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {{"interChromLDr2", "-file0", a, "-file1", b, "-o", b}, "Error: -o would overwrite -file1: " + b + "\n"},
      {{"interChromLDr2", "-file0", a, "-file1", b, "-o", dir.file("a"), "-r2_cut", "0"},
       ""},  // binary mode never writes -o itself, only a.log, a.meta and a_parts
      {{"interChromLDr2", "-file0", dir.file("o.txt.log"), "-file1", b, "-o", dir.file("o.txt")},
       "Error: the run log would overwrite -file0: " + dir.file("o.txt.log") + "\n"},
      {{"interChromLDdprime", "-file0", a, "-file1", b, "-o", dir.file("o"), "-distribution", dir.file("o")},
       "Error: -o and -distribution are the same file: " + dir.file("o") + "\n"},
      {{"genotype_interaction", "-file0", a, "-file1", b, "-o", dir.file("results.log")},
       "Error: the run log and -o are the same file: " + dir.file("results.log") + "\n"},
      {{"domrec_interaction", "-file0", a, "-file1", dir.file("a.log"), "-o", dir.file("a.csv")},
       "Error: the run log would overwrite -file1: " + dir.file("a.log") + "\n"},
  };
  for (const Case& c : cases) {
    const auto r = run_varpair(c.args);
    if (c.expected.empty()) {
      EXPECT_EQ(r.err.find("overwrite"), std::string::npos) << r.err;
    } else {
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(r.err, c.expected);
      EXPECT_EQ(r.out, "");
    }
  }
  EXPECT_EQ(varpair::test::read_file(b), "0 1\n");
}

}  // namespace
