// Refuses command lines whose outputs would overwrite an input or one another.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace varpair {

struct NamedPath {
  std::string role;  // how the user knows it: "-file0", "the run log", ...
  std::string path;
};

// True when both paths name the same file, existing or not (links and relative paths resolved).
bool same_file(const std::string& a, const std::string& b);

// Checks that no output is an input, that no two outputs are the same file, and that no input or
// other output lies inside an output directory. On a clash writes "Error: <role> and <role> are the same file: <path>"
// (or the directory form) to `err` and returns false.
bool check_distinct_paths(const std::vector<NamedPath>& inputs, const std::vector<NamedPath>& outputs,
                          const std::vector<NamedPath>& output_directories, std::ostream& err);

}  // namespace varpair
