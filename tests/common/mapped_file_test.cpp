#include "common/mapped_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "common/errors.h"
#include "support/test_support.h"

namespace {

using varpair::InputError;
using varpair::MappedFile;
using varpair::test::TempDir;

std::string open_error(const std::string& path) {
  try {
    MappedFile file(path);
  } catch (const InputError& e) {
    return e.what();
  }
  return "";
}

TEST(MappedFile, MapsTheWholeFile) {
  TempDir dir;
  const std::string content("0 1 2\n\0\xff\n", 9);
  MappedFile file(dir.write("t.txt", content));
  ASSERT_EQ(file.size(), content.size());
  EXPECT_EQ(std::string(file.data(), file.size()), content);
  file.close();
  EXPECT_EQ(file.data(), nullptr);
}

TEST(MappedFile, ReportsEachFailureWithThePath) {
  TempDir dir;
  EXPECT_EQ(open_error(dir.file("missing.txt")),
            "Failed to open file: " + dir.file("missing.txt") + ": No such file or directory");
  EXPECT_EQ(open_error(dir.path()), "Failed to open file: " + dir.path() + ": Is a directory") << "no table";
  const std::string empty = dir.write("empty.txt", "");
  EXPECT_EQ(open_error(empty), "Failed to create file mapping: " + empty);
}

TEST(MappedFile, AFifoFailsAtOnceInsteadOfHanging) {
  TempDir dir;
  const std::string fifo = dir.file("pipe");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(open_error(fifo), "Failed to open file: " + fifo + ": is not a regular file (a FIFO)");
}

TEST(MappedFile, AnUnreadableFileFailsToOpen) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads any file";
  TempDir dir;
  const std::string path = dir.write("secret.txt", "0 1\n");
  chmod(path.c_str(), 0);
  EXPECT_EQ(open_error(path), "Failed to open file: " + path);
}

}  // namespace
