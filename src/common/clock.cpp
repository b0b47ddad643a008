#include "common/clock.h"

#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iomanip>
#include <sstream>

#include "common/run_log.h"

namespace varpair {

std::int64_t monotonic_ns() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::int64_t elapsed_ms(std::int64_t start_ns) { return (monotonic_ns() - start_ns) / 1000000; }

void write_ld_timestamp(RunLog& log, const std::tm& t) {
  static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const int month = t.tm_mon >= 0 && t.tm_mon < 12 ? t.tm_mon : 0;
  log << months[month] << " " << std::setw(2) << std::setfill('0') << t.tm_mday << " " << (t.tm_year + 1900) << " "
      << std::setw(2) << std::setfill('0') << t.tm_hour << ":" << std::setw(2) << std::setfill('0') << t.tm_min << ":"
      << std::setw(2) << std::setfill('0') << t.tm_sec << eol;
}

void write_ld_timestamp(RunLog& log) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  write_ld_timestamp(log, local);
}

std::string ctime_text(std::time_t when) {
  char buffer[64] = {};
  if (ctime_r(&when, buffer) == nullptr) return "\n";
  return buffer;
}

void TimerRegistry::start(const std::string& name) { running_[name] = monotonic_ns(); }

void TimerRegistry::stop(const std::string& name) {
  auto it = running_.find(name);
  if (it == running_.end()) return;
  finished_[name] = static_cast<double>(monotonic_ns() - it->second) / 1e9;
  running_.erase(it);
}

double TimerRegistry::seconds(const std::string& name) const {
  auto it = finished_.find(name);
  return it == finished_.end() ? 0.0 : it->second;
}

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
