#include "common/path_guard.h"

#include <sys/stat.h>

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

std::string not_a_file(const std::string& path) {
  struct stat info {};
  if (path.empty() || ::stat(path.c_str(), &info) != 0 || S_ISREG(info.st_mode)) return "";
  if (S_ISDIR(info.st_mode)) return "is a directory";
  const char* kind = S_ISFIFO(info.st_mode)                           ? " (a FIFO)"
                     : S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode) ? " (a device)"
                     : S_ISSOCK(info.st_mode)                         ? " (a socket)"
                                                                      : "";
  return std::string("is not a regular file") + kind;
}

bool check_input_files(const std::vector<NamedPath>& inputs, std::ostream& err) {
  for (const NamedPath& input : inputs) {
    const std::string what = not_a_file(input.path);
    if (!what.empty()) {
      err << "Error: " << input.role << " " << what << ": " << input.path << std::endl;
      return false;
    }
  }
  return true;
}

bool check_output_name(const NamedPath& output, std::ostream& err) {
  const std::string& path = output.path;
  std::error_code ec;
  if (path.empty())
    err << "Error: " << output.role << " is empty: give the name of a file" << std::endl;
  else if (path.back() == '/')
    err << "Error: " << output.role << " ends in '/': " << path << " (give the name of a file, not a directory)"
        << std::endl;
  else if (std::filesystem::is_directory(path, ec))
    err << "Error: " << output.role << " is a directory: " << path << " (give the name of a file in it)" << std::endl;
  else
    return true;
  return false;
}

}  // namespace varpair
