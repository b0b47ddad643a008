#include "support/test_support.h"

#include <fnmatch.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <stdexcept>

#include "app/entry.h"

namespace varpair::test {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "varpair-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ec);
  std::filesystem::remove_all(path_, ec);
}

std::string TempDir::write(const std::string& name, const std::string& content) const {
  const std::string p = file(name);
  std::ofstream(p, std::ios::binary) << content;
  return p;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool file_exists(const std::string& path) { return std::filesystem::exists(path); }

CapturedOutput::CapturedOutput()
    : saved_out_(std::cout.rdbuf(out_.rdbuf())), saved_err_(std::cerr.rdbuf(err_.rdbuf())) {}

CapturedOutput::~CapturedOutput() {
  std::cout.rdbuf(saved_out_);
  std::cerr.rdbuf(saved_err_);
  // Formats set by a run persist on the stream; start every test from the defaults.
  std::cout.copyfmt(std::ios(nullptr));
  std::cout.clear();
  std::cerr.clear();
}

RunResult run_varpair(const std::vector<std::string>& args) {
  std::vector<const char*> argv{"varpair"};
  for (const std::string& a : args) argv.push_back(a.c_str());
  RunResult result;
  {
    CapturedOutput captured;
    result.status = run_entry(static_cast<int>(argv.size()), argv.data());
    result.out = captured.out();
    result.err = captured.err();
  }
  return result;
}

::testing::AssertionResult LinesMatch(const std::string& text, const std::vector<std::string>& patterns) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  if (text.empty() || text.back() != '\n') return ::testing::AssertionFailure() << "no final line end:\n" << text;
  for (std::size_t i = 0; i < patterns.size() || i < lines.size(); ++i) {
    if (i >= patterns.size() || i >= lines.size() || fnmatch(patterns[i].c_str(), lines[i].c_str(), 0) != 0)
      return ::testing::AssertionFailure()
             << "line " << i + 1 << " is \"" << (i < lines.size() ? lines[i] : "<none>") << "\", expected \""
             << (i < patterns.size() ? patterns[i] : "<none>") << "\" in:\n"
             << text;
  }
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult SameText(const std::string& actual, const std::string& expected) {
  if (actual == expected) return ::testing::AssertionSuccess();
  std::istringstream a(actual), e(expected);
  std::string line_a, line_e;
  std::size_t line = 0, lines_a = 0, lines_e = 0, first = 0;
  std::string first_a, first_e;
  for (;;) {
    const bool more_a = static_cast<bool>(std::getline(a, line_a));
    const bool more_e = static_cast<bool>(std::getline(e, line_e));
    if (!more_a && !more_e) break;
    ++line;
    lines_a += more_a;
    lines_e += more_e;
    if (first == 0 && (more_a != more_e || line_a != line_e)) {
      first = line;
      first_a = more_a ? "\"" + line_a + "\"" : "<none>";
      first_e = more_e ? "\"" + line_e + "\"" : "<none>";
    }
    if (!more_a) line_a.clear();
    if (!more_e) line_e.clear();
  }
  auto failure = ::testing::AssertionFailure();
  failure << "the texts differ: " << lines_a << " lines (" << actual.size() << " bytes) against " << lines_e
          << " lines (" << expected.size() << " bytes) expected";
  if (first != 0)
    failure << "; line " << first << " is " << first_a << ", expected " << first_e;
  else
    failure << "; the lines agree, the line ends differ";
  return failure;
}

std::string data_file(const std::string& name) { return std::string(VARPAIR_TEST_DATA) + "/" + name; }

}  // namespace varpair::test
