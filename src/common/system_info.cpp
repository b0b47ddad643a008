#include "common/system_info.h"

#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <thread>

namespace varpair {

namespace {

constexpr std::uint64_t kUnlimited = std::numeric_limits<std::uint64_t>::max();

// The cgroup path of this process for a v1 controller ("memory", "cpu"), or for v2 with "".
std::string cgroup_path(const std::string& controller) {
  std::ifstream in("/proc/self/cgroup");
  for (std::string line; std::getline(in, line);) {
    const std::size_t first = line.find(':');
    const std::size_t second = line.find(':', first + 1);
    if (first == std::string::npos || second == std::string::npos) continue;
    const std::string controllers = line.substr(first + 1, second - first - 1);
    std::istringstream names(controllers);
    bool match = controller.empty() && controllers.empty();
    for (std::string name; !match && std::getline(names, name, ',');) match = name == controller;
    if (match) return line.substr(second + 1);
  }
  return "";
}

// The first whitespace-separated words of a file ("max 100000", "123456"); empty when unreadable.
std::string read_words(const std::string& path) {
  std::ifstream in(path);
  std::string text;
  std::getline(in, text);
  return text;
}

std::uint64_t number_or_unlimited(const std::string& text) {
  if (text.empty() || text == "max") return kUnlimited;
  try {
    const long long v = std::stoll(text);
    return v < 0 ? kUnlimited : static_cast<std::uint64_t>(v);
  } catch (...) {
    return kUnlimited;
  }
}

// The least value of `file` from the process's cgroup up to the root of `mount` (limits of
// enclosing groups bind too). A container may see its own group as the root of the mount.
template <class Read>
std::uint64_t least_up_the_tree(const std::string& mount, const std::string& group, const std::string& file,
                                Read read) {
  std::uint64_t least = kUnlimited;
  std::string path = group;
  for (;;) {
    least = std::min(least, read(mount + path + "/" + file));
    if (path.empty() || path == "/") break;
    const std::size_t slash = path.find_last_of('/');
    path = slash == std::string::npos ? "" : path.substr(0, slash);
  }
  return least;
}

std::uint64_t cgroup_memory_limit() {
  const auto read = [](const std::string& p) { return number_or_unlimited(read_words(p)); };
  const std::uint64_t v2 = least_up_the_tree("/sys/fs/cgroup", cgroup_path(""), "memory.max", read);
  const std::uint64_t v1 =
      least_up_the_tree("/sys/fs/cgroup/memory", cgroup_path("memory"), "memory.limit_in_bytes", read);
  return std::min(v2, v1);
}

// A value of a cgroup's memory.stat ("inactive_file 123").
std::uint64_t stat_value(const std::string& path, const std::string& key) {
  std::ifstream in(path);
  std::string name;
  std::uint64_t value = 0;
  while (in >> name >> value)
    if (name == key) return value;
  return 0;
}

// The cgroup's memory in use, less the page cache it can drop at once (inactive file pages): after
// a job has read large files, the cache must not count as taken.
std::uint64_t cgroup_memory_usage() {
  const std::string v2 = "/sys/fs/cgroup" + cgroup_path(""), v1 = "/sys/fs/cgroup/memory" + cgroup_path("memory");
  const struct {
    std::string usage, stat, inactive;
  } places[] = {
      {v2 + "/memory.current", v2 + "/memory.stat", "inactive_file"},
      {v1 + "/memory.usage_in_bytes", v1 + "/memory.stat", "total_inactive_file"},
      {"/sys/fs/cgroup/memory.current", "/sys/fs/cgroup/memory.stat", "inactive_file"},
      {"/sys/fs/cgroup/memory/memory.usage_in_bytes", "/sys/fs/cgroup/memory/memory.stat", "total_inactive_file"}};
  for (const auto& place : places) {
    const std::uint64_t used = number_or_unlimited(read_words(place.usage));
    if (used == kUnlimited) continue;
    const std::uint64_t cache = stat_value(place.stat, place.inactive);
    return used > cache ? used - cache : 0;
  }
  return 0;
}

// CPUs the quota allows: ceil(quota / period), or "unlimited".
std::uint64_t cgroup_cpu_limit() {
  const auto v2 = [](const std::string& p) {
    std::istringstream words(read_words(p));
    std::string quota, period;
    words >> quota >> period;
    const std::uint64_t q = number_or_unlimited(quota), t = number_or_unlimited(period);
    return q == kUnlimited || t == kUnlimited || t == 0 ? kUnlimited : (q + t - 1) / t;
  };
  const auto v1 = [](const std::string& p) {
    const std::string dir = p.substr(0, p.find_last_of('/'));
    const std::uint64_t q = number_or_unlimited(read_words(dir + "/cpu.cfs_quota_us"));
    const std::uint64_t t = number_or_unlimited(read_words(dir + "/cpu.cfs_period_us"));
    return q == kUnlimited || t == kUnlimited || t == 0 ? kUnlimited : (q + t - 1) / t;
  };
  return std::min(least_up_the_tree("/sys/fs/cgroup", cgroup_path(""), "cpu.max", v2),
                  least_up_the_tree("/sys/fs/cgroup/cpu", cgroup_path("cpu"), "cpu.cfs_quota_us", v1));
}

std::uint64_t address_space_limit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return kUnlimited;
  return static_cast<std::uint64_t>(limit.rlim_cur);
}

// Bytes of address space this process holds now.
std::uint64_t address_space_in_use() {
  std::ifstream in("/proc/self/statm");
  std::uint64_t pages = 0;
  in >> pages;
  return pages * static_cast<std::uint64_t>(sysconf(_SC_PAGE_SIZE));
}

}  // namespace

std::uint64_t physical_memory_bytes() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_size = sysconf(_SC_PAGE_SIZE);
  if (pages <= 0 || page_size <= 0) return std::uint64_t{1} << 30;
  return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page_size);
}

std::uint64_t memory_limit_bytes() {
  return std::min({physical_memory_bytes(), cgroup_memory_limit(), address_space_limit()});
}

std::uint64_t memory_available_bytes() {
  std::uint64_t available = physical_memory_bytes();
  const std::uint64_t cgroup = cgroup_memory_limit();
  if (cgroup != kUnlimited) {
    const std::uint64_t used = cgroup_memory_usage();
    available = std::min(available, cgroup > used ? cgroup - used : 0);
  }
  const std::uint64_t space = address_space_limit();
  if (space != kUnlimited) {
    const std::uint64_t used = address_space_in_use();
    available = std::min(available, space > used ? space - used : 0);
  }
  return available;
}

unsigned usable_cpus() {
  std::uint64_t cpus = std::thread::hardware_concurrency();
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) cpus = static_cast<std::uint64_t>(CPU_COUNT(&set));
  cpus = std::min(cpus, cgroup_cpu_limit());
  return static_cast<unsigned>(std::max<std::uint64_t>(cpus, 1));
}

}  // namespace varpair
