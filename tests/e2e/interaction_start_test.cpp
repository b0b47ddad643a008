// Interaction commands up to their run header.
#include <gtest/gtest.h>

#include <regex>

#include "support/test_support.h"

namespace {

using varpair::test::kBom;
using varpair::test::read_file;
using varpair::test::run_varpair;
using varpair::test::TempDir;

TEST(InteractionStart, WritesTheHeaderToConsoleAndLog) {
  for (const std::string command : {"genotype_interaction", "mdr_interaction", "domrec_interaction"}) {
    TempDir dir;
    const std::string cases = dir.write("cases.txt", "0 1\n2 1\n");
    const std::string controls = dir.write("controls.txt", "0 0\n1 1\n");
    const std::string out = dir.file("run.final.txt");
    const auto r = run_varpair({command, "-file0", cases, "-file1", controls, "-o", out});
    EXPECT_EQ(r.status, 1) << "the analysis itself is not there yet";
    EXPECT_EQ(read_file(dir.file("run.final.log")), kBom + r.out);
    const std::regex header(
        "varpair version: 2\\.0\n"
        "Device backend: host CPU \\([0-9]+ threads\\)\n"
        "Command: " +
        command +
        "\n"
        "Command line: " +
        command + " " + command +
        " -file0 \\S+ -file1 \\S+ -o \\S+\n"
        "Program started at: [A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9][0-9] [0-9:]{8} [0-9]{4}\n"
        "-{40}\n"
        "Error: " +
        command + " is not available in this version of varpair yet\n");
    EXPECT_TRUE(std::regex_match(r.out, header)) << r.out;
  }
}

}  // namespace
