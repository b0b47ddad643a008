#include "common/atomic_output.h"

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <set>
#include <thread>
#include <utility>

#include "common/errors.h"
#include "common/output_names.h"
#include "common/run_log.h"

namespace varpair {

namespace fs = std::filesystem;

namespace {

// Temporaries of this process that are not committed yet.
struct Registry {
  std::mutex mutex;
  std::set<std::string> paths;
};

Registry& registry() {
  static Registry r;
  return r;
}

// Held while a run puts its outputs in place, so that a signal waits for all of them, not some.
std::mutex& commit_mutex() {
  static std::mutex m;
  return m;
}

void enlist(const std::string& path) {
  std::lock_guard<std::mutex> lock(registry().mutex);
  registry().paths.insert(path);
}

void delist(const std::string& path) {
  std::lock_guard<std::mutex> lock(registry().mutex);
  registry().paths.erase(path);
}

// ".NAME.partial-<pid>-<n>" beside `path`.
std::string temporary_name(const std::string& path) {
  static std::atomic<unsigned> counter{0};
  const fs::path p(path);
  std::string name = ".";
  name += p.filename().string();
  name += ".partial-";
  name += std::to_string(::getpid());
  name += "-";
  name += std::to_string(counter.fetch_add(1));
  return (p.parent_path() / name).string();
}

}  // namespace

AtomicFile::AtomicFile(std::string final_path) : final_(std::move(final_path)), temporary_(temporary_name(final_)) {}

AtomicFile::~AtomicFile() { discard(); }

bool AtomicFile::open() {
  std::error_code ec;
  if (fs::is_directory(final_, ec)) {  // nothing could ever be renamed over it
    errno = EISDIR;
    return false;
  }
  enlist(temporary_);
  errno = 0;
  stream_.open(temporary_, std::ios::out | std::ios::binary | std::ios::trunc);
  if (!stream_.is_open()) {
    const int error = errno != 0 ? errno : EIO;
    delist(temporary_);
    errno = error;
    return false;
  }
  return true;
}

bool AtomicFile::close() {
  if (!stream_.is_open()) return written_;
  stream_.flush();
  const bool good = stream_.good();
  stream_.close();
  written_ = good && !stream_.fail();
  return written_;
}

bool AtomicFile::commit() {
  if (!close()) {
    errno = EIO;
    return false;
  }
  std::lock_guard<std::mutex> lock(registry().mutex);
  if (registry().paths.count(temporary_) == 0) {  // the process is ending: nothing more goes into place
    errno = EINTR;
    return false;
  }
  if (::rename(temporary_.c_str(), final_.c_str()) != 0) return false;
  registry().paths.erase(temporary_);
  return true;
}

void AtomicFile::discard() {
  if (stream_.is_open()) stream_.close();
  std::error_code ec;
  fs::remove(temporary_, ec);
  delist(temporary_);
}

// A final directory that is a link (to scratch space, say) keeps its link: the new directory
// takes the place of the link's target, and is made beside it so that the swap is one rename.
AtomicDirectory::AtomicDirectory(std::string final_path) : final_(std::move(final_path)) {
  std::error_code ec;
  if (fs::is_symlink(final_, ec)) {
    const fs::path target = fs::canonical(final_, ec);
    if (!ec) final_ = target.string();
  }
  temporary_ = temporary_name(final_);
}

AtomicDirectory::~AtomicDirectory() { discard(); }

bool AtomicDirectory::create() {
  enlist(temporary_);
  if (::mkdir(temporary_.c_str(), 0777) == 0) return true;
  const int error = errno;
  delist(temporary_);
  errno = error;
  return false;
}

bool AtomicDirectory::commit(bool (*is_own_file)(const std::string& name)) {
  std::lock_guard<std::mutex> lock(registry().mutex);
  if (registry().paths.count(temporary_) == 0) {  // the process is ending: nothing more goes into place
    errno = EINTR;
    return false;
  }
  std::error_code ec;
  if (fs::exists(final_, ec) && !fs::is_directory(final_, ec)) {  // never swap a file away
    errno = ENOTDIR;
    return false;
  }
  // One step where the file system can: afterwards the earlier run's directory has the temporary
  // name. Elsewhere (some network file systems) it is first moved aside, and put back on failure.
  if (::renameat2(AT_FDCWD, temporary_.c_str(), AT_FDCWD, final_.c_str(), RENAME_EXCHANGE) != 0) {
    const int error = errno;
    if (error == ENOENT) {  // no earlier directory
      if (::rename(temporary_.c_str(), final_.c_str()) != 0) return false;
      registry().paths.erase(temporary_);
      return true;
    }
    if (error != EINVAL && error != ENOSYS) return false;
    const std::string aside = temporary_ + ".old";
    if (::rename(final_.c_str(), aside.c_str()) != 0) return false;
    if (::rename(temporary_.c_str(), final_.c_str()) != 0) {
      const int failed = errno;
      ::rename(aside.c_str(), final_.c_str());
      errno = failed;
      return false;
    }
    fs::remove_all(temporary_, ec);  // nothing is left there; the earlier directory is `aside`
    if (::rename(aside.c_str(), temporary_.c_str()) != 0) fs::remove_all(aside, ec);
  }
  registry().paths.erase(temporary_);
  // Files of the earlier directory that are not this kind of output (a user's notes) stay with the
  // directory; the rest of it goes.
  for (const auto& entry : fs::directory_iterator(temporary_, ec)) {
    const std::string name = entry.path().filename().string();
    if (!is_own_file(name)) fs::rename(entry.path(), fs::path(final_) / name, ec);
  }
  fs::remove_all(temporary_, ec);
  return true;
}

void AtomicDirectory::discard() {
  std::error_code ec;
  std::lock_guard<std::mutex> lock(registry().mutex);
  if (registry().paths.erase(temporary_) != 0) fs::remove_all(temporary_, ec);
}

CommitPhase::CommitPhase() { commit_mutex().lock(); }
CommitPhase::~CommitPhase() { commit_mutex().unlock(); }

namespace {

// The process of a temporary's name "<pid>-<n>" or "<pid>-<n>.old" (a directory moved aside), or 0
// when the name is not one.
pid_t process_of(const std::string& tail) {
  std::size_t at = 0;
  pid_t pid = 0;
  while (at < tail.size() && std::isdigit(static_cast<unsigned char>(tail[at])) && pid < 100000000)
    pid = pid * 10 + (tail[at++] - '0');
  if (at == 0 || at >= tail.size() || tail[at] != '-') return 0;
  std::size_t digits = ++at;
  while (at < tail.size() && std::isdigit(static_cast<unsigned char>(tail[at]))) ++at;
  if (at == digits || (at != tail.size() && tail.substr(at) != ".old")) return 0;
  return pid;
}

bool process_exists(pid_t pid) { return ::kill(pid, 0) == 0 || errno != ESRCH; }

}  // namespace

std::vector<std::string> remove_leftovers(const std::string& output, bool with_suffixes) {
  const fs::path path(output);
  const fs::path directory = path.parent_path().empty() ? fs::path(".") : path.parent_path();
  const std::string file = path.filename().string();
  std::vector<std::string> prefixes{"." + file + ".partial-"};
  if (with_suffixes)
    for (const char* suffix : kOutputSuffixes) prefixes.push_back("." + file + suffix + ".partial-");
  std::vector<fs::path> dead;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(directory, ec)) {
    const std::string name = entry.path().filename().string();
    for (const std::string& prefix : prefixes) {
      if (name.rfind(prefix, 0) != 0) continue;
      const pid_t pid = process_of(name.substr(prefix.size()));
      if (pid > 0 && pid != ::getpid() && !process_exists(pid)) dead.push_back(path.parent_path() / name);
    }
  }
  std::vector<std::string> removed;
  for (const fs::path& p : dead) {
    std::error_code removing;
    fs::remove_all(p, removing);
    if (!removing) removed.push_back(p.string());
  }
  return removed;
}

void remove_leftovers(RunLog& log, const std::string& output, const std::string& other) {
  std::vector<std::string> removed = remove_leftovers(output, true);
  if (!other.empty())
    for (std::string& path : remove_leftovers(other, false)) removed.push_back(std::move(path));
  if (removed.empty()) return;
  std::sort(removed.begin(), removed.end());
  log << "Removed " << removed.size() << " temporary file" << (removed.size() == 1 ? "" : "s")
      << " left by an earlier run of this output that was killed:";
  for (std::size_t i = 0; i < removed.size() && i < 3; ++i) log << (i ? ", " : " ") << removed[i];
  if (removed.size() > 3) log << " ...";
  log << eol;
}

void remove_uncommitted_outputs() {
  commit_mutex().lock();  // a run putting its outputs in place finishes that first; both kept locked
  Registry& r = registry();
  r.mutex.lock();
  // A worker may still be writing into a temporary directory: what it adds meanwhile goes too.
  for (const std::string& path : r.paths) {
    for (int attempt = 0; attempt < 50; ++attempt) {
      std::error_code ec;
      fs::remove_all(path, ec);
      if (!fs::exists(path, ec)) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  r.paths.clear();
}

}  // namespace varpair
