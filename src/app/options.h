// The option scan shared by every command, and the checks of option values.
#pragma once

#include <initializer_list>
#include <span>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "common/shard.h"

namespace varpair {

// Options of one command line: each takes exactly one value, the next argument; a later
// occurrence replaces an earlier one.
class OptionValues {
 public:
  bool has(const std::string& name) const { return values_.count(name) != 0; }
  const std::string& get(const std::string& name) const { return values_.at(name).text; }
  void set(const std::string& name, const std::string& value) { values_[name] = Value{value, ++position_}; }
  // Of options that are two names of one setting, the one given last (the first name when none is).
  std::string last_of(std::initializer_list<std::string> names) const {
    std::string last = *names.begin();
    int at = 0;
    for (const std::string& name : names) {
      auto it = values_.find(name);
      if (it != values_.end() && it->second.position > at) {
        last = name;
        at = it->second.position;
      }
    }
    return last;
  }

 private:
  struct Value {
    std::string text;
    int position;
  };
  std::map<std::string, Value> values_;
  int position_ = 0;
};

// Scans argv[1 ...] (argv[0] is the command name) against the accepted option names. On the first
// argument that is not an accepted option, or an option standing last without its value, writes
// "Error: Undefined command-line arguments: <argument>" to `err` and returns nothing.
// -parallel takes two values (K N) unless `parallel_takes_one` (the merge's -parallel N); given
// one, it says so.
std::optional<OptionValues> scan_options(int argc, const char* const* argv,
                                         std::span<const std::string_view> accepted, std::ostream& err,
                                         bool parallel_takes_one = false);
inline std::optional<OptionValues> scan_options(int argc, const char* const* argv,
                                                std::initializer_list<std::string_view> accepted, std::ostream& err,
                                                bool parallel_takes_one = false) {
  return scan_options(argc, argv, std::span<const std::string_view>(accepted.begin(), accepted.size()), err,
                      parallel_takes_one);
}

// The values a cut-off may take: from `low` to `high`, `low` itself left out when `above`.
struct ValueRange {
  double low, high;
  bool above;
  const char* words;  // "between 0 and 1", "above 0"
};
inline constexpr ValueRange kZeroToOne{0.0, 1.0, false, "between 0 and 1"};
inline constexpr ValueRange kAboveZero{0.0, 1e300, true, "above 0"};

// Numbers must be numbers in full: leading white space is allowed, nothing may follow, and the
// value must be finite in double precision. On failure the reader writes
// "Error: Invalid value for <option>: <text> (...)" to `err` and returns nothing.
std::optional<int> read_int_option(const OptionValues& options, const std::string& name, int fallback,
                                   std::ostream& err);
// A number out of `range`, or one that single precision would turn into infinity or round to 0,
// is refused with "Error: <option> must be <range> (got <text>)", the single-precision bounds
// added where they are what the value misses.
std::optional<float> read_float_option(const OptionValues& options, const std::string& name, float fallback,
                                       const ValueRange& range, std::ostream& err);
std::optional<double> read_double_option(const OptionValues& options, const std::string& name, double fallback,
                                         std::ostream& err);

// -threads: threads per block of every launch, 1 to 1024.
constexpr int kMaxThreadsPerBlock = 1024;
std::optional<int> read_threads_option(const OptionValues& options, std::ostream& err);

// -parallel K N, the one option with two values: shard K of N (1 of 1 when absent).
constexpr std::string_view kParallelOption = "-parallel";
std::optional<Shard> read_shard_option(const OptionValues& options, std::ostream& err);

// The command line as command_line_text gives it, less "-parallel K N": the same for every shard.
std::string command_line_without_shard(int argc, const char* const* argv);

// The whole command line after "Command line:" of the reports: a space and each element.
std::string command_line_text(int argc, const char* const* argv);

}  // namespace varpair
