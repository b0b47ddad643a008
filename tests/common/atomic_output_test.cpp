#include "common/atomic_output.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "support/test_support.h"

namespace {

using varpair::AtomicDirectory;
using varpair::AtomicFile;
using varpair::test::file_exists;
using varpair::test::read_file;
using varpair::test::TempDir;

std::size_t entries(const std::string& dir) {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir)) ++n;
  return n;
}

TEST(AtomicFile, TheEarlierFileStaysUntilTheNewOneIsCommitted) {
  TempDir dir;
  const std::string path = dir.write("out.txt", "earlier, complete\n");
  {
    AtomicFile file(path);
    ASSERT_TRUE(file.open());
    file.stream() << "new, half written";
    EXPECT_EQ(read_file(path), "earlier, complete\n");
  }  // never committed: an interrupted run
  EXPECT_EQ(read_file(path), "earlier, complete\n");
  EXPECT_EQ(entries(dir.path()), 1u) << "no temporary is left behind";

  AtomicFile file(path);
  ASSERT_TRUE(file.open());
  file.stream() << "new, complete\n";
  ASSERT_TRUE(file.commit());
  EXPECT_EQ(read_file(path), "new, complete\n");
  EXPECT_EQ(entries(dir.path()), 1u);
}

TEST(AtomicFile, AFileWhoseWritesFailIsNeverCommitted) {
  TempDir dir;
  const std::string path = dir.write("out.txt", "earlier\n");
  // In a child with a 4 KiB file-size limit, writes beyond it fail (EFBIG) instead of landing.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit small{4096, 4096};
    setrlimit(RLIMIT_FSIZE, &small);
    AtomicFile file(path);
    if (!file.open()) _exit(2);
    file.stream() << std::string(100000, 'x');
    _exit(file.commit() ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_EQ(read_file(path), "earlier\n");
}

TEST(AtomicDirectory, ReplacesTheEarlierDirectoryWholeAndKeepsForeignFiles) {
  TempDir dir;
  const std::string parts = dir.file("out_parts");
  std::filesystem::create_directory(parts);
  dir.write("out_parts/part_0.bin", "old part");
  dir.write("out_parts/part_7.bin", "old stale part");
  dir.write("out_parts/notes.txt", "the user's");
  AtomicDirectory fresh(parts);
  ASSERT_TRUE(fresh.create());
  dir.write(std::filesystem::path(fresh.temporary()).filename().string() + "/part_0.bin", "new part");
  EXPECT_EQ(read_file(parts + "/part_7.bin"), "old stale part") << "untouched until the commit";
  ASSERT_TRUE(fresh.commit([](const std::string& name) { return name.rfind("part_", 0) == 0; }));
  EXPECT_EQ(read_file(parts + "/part_0.bin"), "new part");
  EXPECT_FALSE(file_exists(parts + "/part_7.bin"));
  EXPECT_EQ(read_file(parts + "/notes.txt"), "the user's");
  EXPECT_EQ(entries(dir.path()), 1u) << "neither the old directory nor a temporary remains";
}

TEST(AtomicDirectory, AnUncommittedDirectoryIsRemoved) {
  TempDir dir;
  {
    AtomicDirectory fresh(dir.file("out_parts"));
    ASSERT_TRUE(fresh.create());
    dir.write(std::filesystem::path(fresh.temporary()).filename().string() + "/part_0.bin", "x");
  }
  EXPECT_EQ(entries(dir.path()), 0u);
}

}  // namespace
