// What kept a run from analysing or writing all of its results. A run with any problem still
// writes what it can, but ends with exit status 1 and a final line that says the results are
// incomplete: exit status 0 means every pair was analysed and every output written.
#pragma once

#include <string>
#include <vector>

#include "common/run_log.h"

namespace varpair {

class RunProblems {
 public:
  void add(const std::string& what) {
    for (const std::string& p : problems_)
      if (p == what) return;
    problems_.push_back(what);
  }
  bool empty() const { return problems_.empty(); }

  // Writes "Error: The results are incomplete: <problems>" when there are any (the run log puts it on
  // standard error too); the exit status.
  int report(RunLog& log) {
    if (!log.intact()) add("the run log was not written");
    if (problems_.empty()) return 0;
    std::string line = "Error: The results are incomplete: ";
    for (std::size_t i = 0; i < problems_.size(); ++i) line += (i ? "; " : "") + problems_[i];
    log << line << eol;
    return 1;
  }

 private:
  std::vector<std::string> problems_;
};

}  // namespace varpair
