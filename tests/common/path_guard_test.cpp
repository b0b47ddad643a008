#include "common/path_guard.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <sstream>

#include "support/test_support.h"

namespace {

using varpair::check_distinct_paths;
using varpair::same_file;
using varpair::test::TempDir;

TEST(SameFile, ResolvesRelativePathsLinksAndFilesNotYetWritten) {
  TempDir dir;
  const std::string a = dir.write("a.txt", "x");
  EXPECT_TRUE(same_file(a, dir.path() + "/./sub/../a.txt"));
  ASSERT_EQ(symlink(a.c_str(), dir.file("link.txt").c_str()), 0);
  EXPECT_TRUE(same_file(a, dir.file("link.txt")));
  EXPECT_TRUE(same_file(dir.file("new.txt"), dir.path() + "//new.txt"));
  EXPECT_FALSE(same_file(a, dir.file("b.txt")));
}

TEST(CheckDistinctPaths, RefusesAnOutputOverAnInput) {
  TempDir dir;
  const std::string input = dir.write("in.txt", "0 1\n");
  std::ostringstream err;
  EXPECT_FALSE(check_distinct_paths({{"-file0", input}}, {{"-o", input}}, {}, err));
  EXPECT_EQ(err.str(), "Error: -o would overwrite -file0: " + input + "\n");
}

TEST(CheckDistinctPaths, RefusesTwoOutputsInOneFile) {
  TempDir dir;
  std::ostringstream err;
  EXPECT_FALSE(check_distinct_paths({}, {{"the run log", dir.file("x.log")}, {"-o", dir.file("x.log")}}, {}, err));
  EXPECT_EQ(err.str(), "Error: the run log and -o are the same file: " + dir.file("x.log") + "\n");
}

TEST(CheckDistinctPaths, RefusesAnInputInsideARewrittenDirectory) {
  TempDir dir;
  std::ostringstream err;
  EXPECT_FALSE(check_distinct_paths({{"-file1", dir.file("out_parts/part_0.bin")}}, {},
                                    {{"the parts directory", dir.file("out_parts")}}, err));
  EXPECT_NE(err.str().find("-file1 lies inside the parts directory"), std::string::npos) << err.str();
}

TEST(CheckDistinctPaths, AcceptsDistinctPaths) {
  TempDir dir;
  std::ostringstream err;
  EXPECT_TRUE(check_distinct_paths({{"-file0", dir.file("a")}, {"-file1", dir.file("a")}},
                                   {{"-o", dir.file("o")}, {"the run log", dir.file("o.log")}},
                                   {{"the parts directory", dir.file("o_parts")}}, err));
  EXPECT_EQ(err.str(), "");
}

}  // namespace
