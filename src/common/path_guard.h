// Refuses command lines whose outputs would overwrite an input or one another, inputs that are not
// files and outputs that name no file.
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

// What keeps an existing path from being read as a file: "is a directory", "is not a regular file
// (a FIFO)" and the like; empty for a regular file and for a path that does not exist (its reader
// says so when it opens it).
std::string not_a_file(const std::string& path);

// Inputs are read whole from regular files: a directory, a FIFO or a device is refused by what it
// is ("Error: -pheno is a directory: PATH"), without opening it (opening a FIFO waits for a writer).
bool check_input_files(const std::vector<NamedPath>& inputs, std::ostream& err);

// An output option names a file: an empty name, one that ends in '/' and an existing directory are
// refused ("Error: -o is a directory: PATH").
bool check_output_name(const NamedPath& output, std::ostream& err);

}  // namespace varpair
