#include "app/options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace varpair {

namespace {

bool is_accepted(std::string_view arg, std::span<const std::string_view> accepted) {
  for (std::string_view name : accepted)
    if (arg == name) return true;
  return false;
}

}  // namespace

std::optional<OptionValues> scan_options(int argc, const char* const* argv,
                                         std::span<const std::string_view> accepted, std::ostream& err,
                                         bool parallel_takes_one) {
  OptionValues values;
  for (int i = 1; i < argc;) {
    const std::string_view arg = argv[i];
    const bool known = is_accepted(arg, accepted);
    const int taken = arg == kParallelOption && !parallel_takes_one ? 2 : 1;  // -parallel K N takes two values
    if (known && taken == 2 && (i + 2 >= argc || is_accepted(argv[i + 2], accepted))) {
      err << "Error: -parallel takes two values: -parallel K N runs shard K of N (got "
          << (i + 1 < argc ? "only '" + std::string(argv[i + 1]) + "'" : "none") << ")" << std::endl;
      return std::nullopt;
    }
    if (!known || i + taken >= argc) {
      err << "Error: Undefined command-line arguments: " << arg << std::endl;
      return std::nullopt;
    }
    values.set(std::string(arg), taken == 2 ? std::string(argv[i + 1]) + " " + argv[i + 2] : argv[i + 1]);
    i += 1 + taken;
  }
  return values;
}

namespace {

void report_invalid(std::ostream& err, const std::string& name, const std::string& text, const char* expected) {
  err << "Error: Invalid value for " << name << ": '" << text << "' (" << expected << ")" << std::endl;
}

// strtod/strtol over the whole text; false when anything but leading white space is left over.
bool parse_whole_double(const std::string& text, double& out) {
  if (text.empty()) return false;
  const char* begin = text.c_str();
  char* end = nullptr;
  errno = 0;
  out = std::strtod(begin, &end);
  // A value beyond the double range (1e400, 1e-400) is no number in full.
  return end != begin && *end == '\0' && errno != ERANGE;
}

}  // namespace

std::optional<int> read_int_option(const OptionValues& options, const std::string& name, int fallback,
                                   std::ostream& err) {
  if (!options.has(name)) return fallback;
  const std::string& text = options.get(name);
  const char* begin = text.c_str();
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(begin, &end, 10);
  if (text.empty() || end == begin || *end != '\0' || errno == ERANGE || value < std::numeric_limits<int>::min() ||
      value > std::numeric_limits<int>::max()) {
    report_invalid(err, name, text, "expected a whole number");
    return std::nullopt;
  }
  return static_cast<int>(value);
}

std::optional<double> read_double_option(const OptionValues& options, const std::string& name, double fallback,
                                         std::ostream& err) {
  if (!options.has(name)) return fallback;
  double value = 0;
  if (!parse_whole_double(options.get(name), value) || !std::isfinite(value)) {
    report_invalid(err, name, options.get(name), "expected a finite number");
    return std::nullopt;
  }
  return value;
}

// Read as a double and then rounded to single precision, the way the value was always read.
std::optional<float> read_float_option(const OptionValues& options, const std::string& name, float fallback,
                                       const ValueRange& range, std::ostream& err) {
  if (!options.has(name)) return fallback;
  const std::string& text = options.get(name);
  double value = 0;
  if (!parse_whole_double(text, value) || !std::isfinite(value)) {
    report_invalid(err, name, text, "expected a finite number");
    return std::nullopt;
  }
  // The least and largest magnitudes single precision keeps (it rounds 1e-46 to 0).
  constexpr double kLeast = 1e-45, kLargest = std::numeric_limits<float>::max();
  const bool in_range = (range.above ? value > range.low : value >= range.low) && value <= range.high;
  const double magnitude = std::fabs(value);
  const bool too_small = value != 0.0 && magnitude < kLeast;
  const bool too_large = magnitude > kLargest;
  if (!in_range || too_small || too_large) {
    err << "Error: " << name << " must be " << range.words;
    if (in_range && too_small) err << ", and " << (range.above ? "" : "0 or ") << "at least " << kLeast;
    if (in_range && too_large) err << ", and at most " << kLargest;
    err << (in_range ? " in single precision" : "") << " (got " << text << ")" << std::endl;
    return std::nullopt;
  }
  return static_cast<float>(value);
}

std::optional<int> read_threads_option(const OptionValues& options, std::ostream& err) {
  const std::optional<int> threads = read_int_option(options, "-threads", 256, err);
  if (!threads) return std::nullopt;
  if (*threads < 1 || *threads > kMaxThreadsPerBlock) {
    err << "Error: -threads must be between 1 and " << kMaxThreadsPerBlock << " (got " << *threads << ")" << std::endl;
    return std::nullopt;
  }
  return threads;
}

std::optional<Shard> read_shard_option(const OptionValues& options, std::ostream& err) {
  const std::string name(kParallelOption);
  if (!options.has(name)) return Shard{};
  const std::string& text = options.get(name);
  const std::size_t space = text.find(' ');
  const auto whole = [](const std::string& t, int& out) {
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(t.c_str(), &end, 10);
    if (t.empty() || *end != '\0' || errno == ERANGE || v < 1 || v > 1000000) return false;
    out = static_cast<int>(v);
    return true;
  };
  Shard shard;
  shard.given = true;
  if (!whole(text.substr(0, space), shard.k) || !whole(text.substr(space + 1), shard.n) || shard.k > shard.n) {
    err << "Error: Invalid value for -parallel: '" << text
        << "' (expected -parallel K N: shard K of N, whole numbers with 1 <= K <= N)" << std::endl;
    return std::nullopt;
  }
  return shard;
}

std::string command_line_without_shard(int argc, const char* const* argv) {
  std::string text;
  for (int i = 0; i < argc; ++i) {
    if (argv[i] == kParallelOption && i + 2 < argc) {
      i += 2;
      continue;
    }
    text += ' ';
    text += argv[i];
  }
  return text;
}

std::string command_line_text(int argc, const char* const* argv) {
  std::string text;
  for (int i = 0; i < argc; ++i) {
    text += ' ';
    text += argv[i];
  }
  return text;
}

}  // namespace varpair
