// Interaction commands up to their run header.
#include <gtest/gtest.h>

#include "support/test_support.h"

namespace {

using varpair::test::kBom;
using varpair::test::read_file;
using varpair::test::run_varpair;
using varpair::test::TempDir;

TEST(InteractionStart, WritesTheHeaderToConsoleAndLog) {
  for (const std::string command : {"mdr_interaction", "domrec_interaction"}) {
    TempDir dir;
    const std::string cases = dir.write("cases.txt", "0 1\n2 1\n");
    const std::string controls = dir.write("controls.txt", "0 0\n1 1\n");
    const std::string out = dir.file("run.final.txt");
    const auto r = run_varpair({command, "-file0", cases, "-file1", controls, "-o", out});
    EXPECT_EQ(r.status, 1) << "the analysis itself is not there yet";
    EXPECT_EQ(read_file(dir.file("run.final.log")), kBom + r.out);
    EXPECT_TRUE(varpair::test::LinesMatch(
        r.out, {"varpair version: 2.0", "Device backend: host CPU ([0-9]* threads)", "Command: " + command,
                "Command line: " + command + " " + command + " -file0 " + cases + " -file1 " + controls + " -o " + out,
                "Program started at: [A-Z][a-z][a-z] [A-Z][a-z][a-z] [ 0-9][0-9] [0-9][0-9]:[0-9][0-9]:[0-9][0-9] "
                "[0-9][0-9][0-9][0-9]",
                std::string(40, '-'), "Error: " + command + " is not available in this version of varpair yet"}));
  }
}

}  // namespace
