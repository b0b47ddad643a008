#include "common/mapped_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "common/errors.h"
#include "common/path_guard.h"

namespace varpair {

MappedFile::MappedFile(const std::string& path) {
  // O_NONBLOCK: opening a FIFO must not hang; only regular files are tables.
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd_ < 0) throw InputError("Failed to open file: " + path + reason(errno));
  struct stat info {};
  if (::fstat(fd_, &info) != 0 || info.st_size < 0) {
    const int error = errno;
    close();
    throw InputError("Failed to get file size: " + path + reason(error));
  }
  // Directories, FIFOs and devices cannot be mapped as a whole: they are not tables.
  if (!S_ISREG(info.st_mode)) {
    close();
    throw InputError("Failed to open file: " + path +
                     (S_ISDIR(info.st_mode) ? reason(EISDIR) : ": " + not_a_file(path)));
  }
  size_ = static_cast<std::uint64_t>(info.st_size);
  if (size_ == 0) {
    close();
    throw InputError("Failed to create file mapping: " + path);
  }
  void* view = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd_, 0);
  if (view == MAP_FAILED) {
    const int error = errno;
    close();
    throw InputError("Failed to map view of file: " + path + reason(error));
  }
  view_ = static_cast<const char*>(view);
}

MappedFile::~MappedFile() { close(); }

void MappedFile::close() {
  if (view_ != nullptr) ::munmap(const_cast<char*>(view_), size_);
  view_ = nullptr;
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

}  // namespace varpair
