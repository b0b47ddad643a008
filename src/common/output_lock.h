// One writer per output: a run holds an advisory lock (flock) on its run log for its whole life, so
// a second run with the same -o is refused before it touches anything. The lock goes with the
// process, also when it is killed.
#pragma once

#include <string>

namespace varpair {

class OutputLock {
 public:
  OutputLock() = default;
  ~OutputLock();
  OutputLock(const OutputLock&) = delete;
  OutputLock& operator=(const OutputLock&) = delete;

  // False only when another live process holds the lock. A log that cannot be opened is not
  // locked, and the run goes on to report that it cannot write its log.
  bool acquire(const std::string& log_path);

 private:
  int fd_ = -1;
};

}  // namespace varpair
