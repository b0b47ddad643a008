// Helpers shared by the suites: temporary directories, captured console streams and in-process runs
// of whole command lines.
#pragma once

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace varpair::test {

// A fresh directory, removed with everything in it when the test ends.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  // Writes `content` (bytes as given) to `name` and returns its path.
  std::string write(const std::string& name, const std::string& content) const;

 private:
  std::string path_;
};

std::string read_file(const std::string& path);
bool file_exists(const std::string& path);

// Redirects std::cout and std::cerr into strings while alive.
class CapturedOutput {
 public:
  CapturedOutput();
  ~CapturedOutput();
  CapturedOutput(const CapturedOutput&) = delete;
  CapturedOutput& operator=(const CapturedOutput&) = delete;

  std::string out() const { return out_.str(); }
  std::string err() const { return err_.str(); }

 private:
  std::ostringstream out_;
  std::ostringstream err_;
  std::streambuf* saved_out_;
  std::streambuf* saved_err_;
};

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs `varpair <args...>` in-process through the entry, capturing both streams.
RunResult run_varpair(const std::vector<std::string>& args);

// Whether `text` consists of exactly these lines, each matching its shell-style pattern
// (`*` any run of characters, `?` one character, `[0-9]` a class).
::testing::AssertionResult LinesMatch(const std::string& text, const std::vector<std::string>& patterns);

// Whether two texts are the same; on a difference says how many lines each has and shows the first
// line where they part, never a diff of whole tables.
::testing::AssertionResult SameText(const std::string& actual, const std::string& expected);

// A file of tests/data/ (golden texts).
std::string data_file(const std::string& name);

// The byte-order mark that starts every text file we write.
inline const std::string kBom = "\xEF\xBB\xBF";

}  // namespace varpair::test
