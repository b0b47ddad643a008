#include "common/file_size.h"

#include <sys/stat.h>

#include <fstream>
#include <iomanip>
#include <sstream>

namespace varpair {

std::string size_text(std::uint64_t bytes) {
  static const char* const units[] = {"B", "KB", "MB", "GB", "TB"};
  double value = static_cast<double>(bytes);
  int unit = 0;
  while (value >= 1024.0 && unit < 4) {
    value *= 0.0009765625;
    ++unit;
  }
  std::ostringstream text;
  text << std::fixed << std::setprecision(2) << value << " " << units[unit];
  return text.str();
}

std::string file_size_text(const std::string& path) {
  if (!std::ifstream(path, std::ios::binary).is_open()) return "File not accessible";
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return "Size calculation failed";
  return size_text(static_cast<std::uint64_t>(info.st_size));
}

}  // namespace varpair
