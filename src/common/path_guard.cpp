#include "common/path_guard.h"

#include <filesystem>

namespace varpair {

namespace fs = std::filesystem;

namespace {

fs::path resolved(const std::string& path) {
  std::error_code ec;
  fs::path p = fs::weakly_canonical(fs::absolute(path, ec), ec);
  return ec ? fs::absolute(path, ec).lexically_normal() : p;
}

}  // namespace

bool same_file(const std::string& a, const std::string& b) {
  std::error_code ec;
  if (fs::exists(a, ec) && fs::exists(b, ec)) {
    const bool same = fs::equivalent(a, b, ec);
    if (!ec) return same;
  }
  return resolved(a) == resolved(b);
}

bool check_distinct_paths(const std::vector<NamedPath>& inputs, const std::vector<NamedPath>& outputs,
                          const std::vector<NamedPath>& output_directories, std::ostream& err) {
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    for (const NamedPath& input : inputs) {
      if (same_file(outputs[i].path, input.path)) {
        err << "Error: " << outputs[i].role << " would overwrite " << input.role << ": " << input.path << std::endl;
        return false;
      }
    }
    for (std::size_t j = 0; j < i; ++j) {
      if (same_file(outputs[i].path, outputs[j].path)) {
        err << "Error: " << outputs[j].role << " and " << outputs[i].role << " are the same file: " << outputs[i].path
            << std::endl;
        return false;
      }
    }
  }
  for (const NamedPath& dir : output_directories) {
    for (const NamedPath& output : outputs) {
      if (same_file(resolved(output.path).parent_path().string(), dir.path)) {
        err << "Error: " << output.role << " lies inside " << dir.role << ", which this run replaces: " << output.path
            << std::endl;
        return false;
      }
    }
    for (const NamedPath& input : inputs) {
      if (same_file(resolved(input.path).parent_path().string(), dir.path)) {
        err << "Error: " << input.role << " lies inside " << dir.role << ", which this run rewrites: " << input.path
            << std::endl;
        return false;
      }
    }
  }
  return true;
}

}  // namespace varpair
