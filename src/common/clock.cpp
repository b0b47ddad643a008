#include "common/clock.h"

#include <chrono>
#include <cstdio>
#include <iomanip>

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

}  // namespace varpair
