// Time sources and the shared time formats of the run reports.
#pragma once

#include <cstdint>
#include <ctime>
#include <map>
#include <string>

namespace varpair {

class RunLog;

// Monotonic clock in nanoseconds.
std::int64_t monotonic_ns();

// Whole milliseconds since `start_ns`, truncated toward zero.
std::int64_t elapsed_ms(std::int64_t start_ns);

// Writes the LD timestamp "Jan 03 2026 09:05:07" and ends the line.
void write_ld_timestamp(RunLog& log, const std::tm& local_time);
void write_ld_timestamp(RunLog& log);

// The C library's ctime text of a calendar time, ending in its own line feed.
std::string ctime_text(std::time_t when);

// Named timers of the interaction commands.
class TimerRegistry {
 public:
  void start(const std::string& name);
  // Stores the seconds since start(name); nothing when the name is not running.
  void stop(const std::string& name);
  // The stored seconds of the name, 0.0 when it was never stopped.
  double seconds(const std::string& name) const;

 private:
  std::map<std::string, std::int64_t> running_;
  std::map<std::string, double> finished_;
};

}  // namespace varpair
