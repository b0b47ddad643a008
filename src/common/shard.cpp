#include "common/shard.h"

#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>

#include "common/atomic_output.h"
#include "common/run_log.h"

namespace varpair {

std::string shard_path(const std::string& path, int k) {
  const std::size_t slash = path.find_last_of('/');
  const std::size_t name = slash == std::string::npos ? 0 : slash + 1;
  const std::size_t dot = path.find_last_of('.');
  const std::string tag = "." + std::to_string(k);
  if (dot == std::string::npos || dot <= name) return path + tag;  // no extension (".hidden" has none)
  return path.substr(0, dot) + tag + path.substr(dot);
}

std::string interaction_shard_log_path(const std::string& output, int k) {
  return shard_path(interaction_log_path(output), k);
}

std::pair<std::int32_t, std::int32_t> ld_shard_rows(std::int32_t rows0, const Shard& shard) {
  const auto at = [&](int k) { return static_cast<std::int32_t>(static_cast<std::int64_t>(rows0) * k / shard.n); };
  return {at(shard.k - 1), at(shard.k)};
}

std::uint64_t triangle_pairs(std::int32_t m, std::int32_t first, std::int32_t end) {
  // Pairs before row a: a m - a (a + 1) / 2.
  const auto before = [&](std::uint64_t a) { return a * static_cast<std::uint64_t>(m) - a * (a + 1) / 2; };
  return before(static_cast<std::uint64_t>(end)) - before(static_cast<std::uint64_t>(first));
}

std::pair<std::int32_t, std::int32_t> triangle_shard_rows(std::int32_t m, const Shard& shard) {
  const std::uint64_t total = triangle_pairs(m, 0, m - 1);
  // Boundary k: the first row before which at least k / N of the pairs lie, kept one row or more
  // apart from its neighbours so that no shard is empty.
  const auto boundary = [&](int k) -> std::int32_t {
    if (k <= 0) return 0;
    if (k >= shard.n) return m - 1;
    const std::uint64_t target = (total * static_cast<std::uint64_t>(k) + shard.n - 1) / shard.n;
    std::int32_t lo = 0, hi = m - 1;
    while (lo < hi) {
      const std::int32_t mid = lo + (hi - lo) / 2;
      if (triangle_pairs(m, 0, mid) >= target)
        hi = mid;
      else
        lo = mid + 1;
    }
    return lo;
  };
  std::int32_t previous = 0, first = 0;
  for (int k = 1; k <= shard.k; ++k) {
    std::int32_t b = boundary(k);
    b = std::max(b, previous + 1);                         // not empty
    b = std::min<std::int32_t>(b, m - 1 - (shard.n - k));  // room for the shards after it
    first = previous;
    previous = b;
  }
  return {first, previous};
}

std::string inputs_fingerprint(const std::vector<std::string>& paths) {
  std::string text;
  for (const std::string& path : paths) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) continue;
    text += (text.empty() ? "" : " ") + std::to_string(info.st_size) + ":" + std::to_string(info.st_mtim.tv_sec) + "." +
            std::to_string(info.st_mtim.tv_nsec);
  }
  return text;
}

namespace {

std::string pair_text(std::uint64_t a, std::uint64_t b) { return std::to_string(a) + " " + std::to_string(b); }

// "A B" into two numbers; false unless the text is two whole numbers.
bool read_pair(const std::string& text, std::uint64_t& a, std::uint64_t& b, bool second_required = true) {
  std::istringstream words(text);
  if (!(words >> a)) return false;
  b = 0;
  if (!(words >> b) && second_required) return false;
  std::string rest;
  return !(words >> rest);
}

}  // namespace

// The keys are those stored shards already carry: a shard written before this form merges still.
bool write_manifest(const std::string& path, const ShardManifest& m) {
  std::map<std::string, std::string> entries{
      {"command", m.command},
      {"shard", pair_text(static_cast<std::uint64_t>(m.shard.k), static_cast<std::uint64_t>(m.shard.n))},
      {"settings", m.settings},
      {"ids", m.ids ? "yes" : "no"},
      {"inputs", m.inputs},
  };
  if (m.family == ShardManifest::Family::kLd) {
    entries["mode"] = m.binary ? "binary" : "text";
    entries["rows"] = pair_text(m.rows0, m.rows1);
    entries["pairs"] = pair_text(m.first, m.end);
    entries["distribution"] = m.distribution ? "yes" : "no";
  } else {
    entries["rows"] = std::to_string(m.rows0);
    entries["snp0"] = pair_text(m.first, m.end);
    entries["records"] = std::to_string(m.records);
    if (m.adjusted) entries["adjusted"] = "yes";  // absent in shards without covariates, as before
    // Trait names hold no white space (their files are split at it).
    std::string labels;
    for (const std::string& label : m.labels) labels += (labels.empty() ? "" : " ") + label;
    if (!labels.empty()) entries["labels"] = labels;
  }
  AtomicFile file(path);
  if (!file.open()) return false;
  file.stream() << "varpair shard\n";
  for (const auto& [key, value] : entries) file.stream() << key << ' ' << value << '\n';
  return file.commit();
}

std::optional<ShardManifest> read_manifest(const std::string& path) {
  std::map<std::string, std::string> entries;
  std::ifstream in(path);
  std::string line;
  if (!std::getline(in, line) || line != "varpair shard") return std::nullopt;
  while (std::getline(in, line)) {
    const std::size_t space = line.find(' ');
    if (space != std::string::npos) entries[line.substr(0, space)] = line.substr(space + 1);
  }
  for (const char* key : {"command", "shard", "settings", "ids", "inputs", "rows"})
    if (!entries.count(key)) return std::nullopt;
  ShardManifest m;
  m.command = entries["command"];
  m.settings = entries["settings"];
  m.inputs = entries["inputs"];
  m.ids = entries["ids"] == "yes";
  std::uint64_t k = 0, n = 0;
  if (!read_pair(entries["shard"], k, n)) return std::nullopt;
  m.shard = Shard{static_cast<int>(k), static_cast<int>(n), true};
  const bool ld = entries.count("pairs") != 0;
  m.family = ld ? ShardManifest::Family::kLd : ShardManifest::Family::kInteraction;
  if (!read_pair(entries["rows"], m.rows0, m.rows1, ld) || !read_pair(entries[ld ? "pairs" : "snp0"], m.first, m.end))
    return std::nullopt;
  if (ld) {
    m.binary = entries["mode"] == "binary";
    m.distribution = entries["distribution"] == "yes";
  } else {
    std::uint64_t unused = 0;
    if (!read_pair(entries["records"], m.records, unused, false)) return std::nullopt;
    m.adjusted = entries["adjusted"] == "yes";
    std::istringstream labels(entries["labels"]);
    for (std::string label; labels >> label;) m.labels.push_back(label);
  }
  return m;
}

}  // namespace varpair
