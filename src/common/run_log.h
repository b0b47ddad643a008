// The run log: every report goes to standard output and, byte for byte, to a log file beside the
// output. A log that cannot be opened or written costs one warning and the run's exit status 0,
// never the run itself. A console that stops taking writes (a closed pipe) stops nothing. A line
// that starts a failure ("Error...", "ERROR...", "Exception in ...") also goes to standard error,
// once, so that a run whose standard output goes elsewhere still shows why it failed.
#pragma once

#include <fstream>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>

#include "common/output_names.h"
#include "common/progress.h"

namespace varpair {

class RunLog {
 public:
  // A log that writes to the console only.
  RunLog() = default;
  // Opens the log file (truncating it) and writes the UTF-8 byte-order mark. On failure writes
  // "Error opening log file: <path>" to standard error and reports on the console only.
  explicit RunLog(const std::string& path);
  ~RunLog();
  RunLog(const RunLog&) = delete;
  RunLog& operator=(const RunLog&) = delete;

  bool is_open() const { return file_.is_open(); }
  // False once the log file could not be opened or a write to it failed.
  bool intact() const { return intact_; }
  const std::string& path() const { return path_; }

  // One write: a value or a stream format command (std::setw, std::setprecision, std::fixed, ...),
  // applied to the console and the log alike, so formats persist identically on both.
  template <class T>
  RunLog& operator<<(const T& value) {
    write([&value](std::ostream& s) { s << value; });
    return *this;
  }
  RunLog& operator<<(std::ios_base& (*manipulator)(std::ios_base&)) {
    write([manipulator](std::ostream& s) { s << manipulator; });
    return *this;
  }
  RunLog& operator<<(RunLog& (*action)(RunLog&)) { return action(*this); }

  // A line end on both; flushes both.
  RunLog& end_line();

 private:
  template <class Write>
  void write(Write&& w) {
    std::lock_guard<std::mutex> lock(mutex_);
    Progress::global().clear_line();
    w(std::cout);
    w(line_);
    if (file_.is_open()) {
      w(file_);
      file_.flush();
      check_file();
    }
  }
  void check_file();
  void note(const std::string& line);
  friend void note_in_run_log(const std::string& line);

  std::mutex mutex_;
  std::ofstream file_;
  std::ostringstream line_;  // the line being written, with the console's formats
  bool intact_ = true;
  std::string path_;
};

// Adds a last line to the log of the run in progress, if there is one (the signal watcher says why
// the run ended); the console is not written.
void note_in_run_log(const std::string& line);

// Ends the current line of a RunLog: `log << "Rows: " << n << eol;`
inline RunLog& eol(RunLog& log) { return log.end_line(); }

}  // namespace varpair
