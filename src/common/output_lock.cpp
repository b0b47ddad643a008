#include "common/output_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

namespace varpair {

OutputLock::~OutputLock() {
  if (fd_ >= 0) ::close(fd_);
}

bool OutputLock::acquire(const std::string& log_path) {
  fd_ = ::open(log_path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
  if (fd_ < 0) return true;
  if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) return true;
  const bool held = errno == EWOULDBLOCK;
  ::close(fd_);
  fd_ = -1;
  return !held;
}

}  // namespace varpair
