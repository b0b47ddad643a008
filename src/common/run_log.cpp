#include "common/run_log.h"

#include <cerrno>

#include "common/errors.h"

namespace varpair {

namespace {
// The log of the run in progress, for a note when a signal ends it.
std::mutex current_mutex;
RunLog* current = nullptr;
}  // namespace

void note_in_run_log(const std::string& line) {
  std::lock_guard<std::mutex> lock(current_mutex);
  if (current != nullptr) current->note(line);
}

RunLog::~RunLog() {
  std::lock_guard<std::mutex> lock(current_mutex);
  if (current == this) current = nullptr;
}

void RunLog::note(const std::string& line) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!file_.is_open()) return;
  file_ << line << '\n' << std::flush;
}

RunLog::RunLog(const std::string& path) : path_(path) {
  errno = 0;
  file_.open(path, std::ios::out | std::ios::binary | std::ios::trunc);
  if (!file_.is_open()) {
    intact_ = false;
    std::cerr << "Error opening log file: " << path << (errno != 0 ? reason(errno) : std::string()) << std::endl;
    return;
  }
  file_ << "\xEF\xBB\xBF";
  file_.flush();
  check_file();
  std::lock_guard<std::mutex> lock(current_mutex);
  current = this;
}

namespace {

bool starts_a_failure(const std::string& line) {
  return line.rfind("Error", 0) == 0 || line.rfind("ERROR", 0) == 0 || line.rfind("Exception in ", 0) == 0;
}

}  // namespace

RunLog& RunLog::end_line() {
  std::lock_guard<std::mutex> lock(mutex_);
  Progress::global().clear_line();
  std::cout << '\n' << std::flush;
  const std::string line = line_.str();
  line_.str("");
  if (starts_a_failure(line)) std::cerr << line << std::endl;
  if (file_.is_open()) {
    file_ << '\n' << std::flush;
    check_file();
  }
  return *this;
}

// A log that stops taking writes (a full disk) is reported once; the run and its console report
// go on, and the log is closed so that nothing half-written follows.
void RunLog::check_file() {
  if (file_.good()) return;
  intact_ = false;
  file_.close();
  std::cerr << "Error writing log file: " << path_ << " (the log is incomplete)" << std::endl;
}

std::string ld_log_path(const std::string& output_path) { return output_path + ".log"; }

std::string interaction_log_path(const std::string& output_path) {
  const std::size_t slash = output_path.find_last_of('/');
  const std::size_t name_start = slash == std::string::npos ? 0 : slash + 1;
  const std::size_t dot = output_path.find_last_of('.');
  if (dot == std::string::npos || dot < name_start) return output_path + ".log";
  return output_path.substr(0, dot) + ".log";
}

}  // namespace varpair
