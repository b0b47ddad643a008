// Read-only memory mapping of a whole input file. The text is never copied: the readers walk the
// mapping directly.
#pragma once

#include <cstdint>
#include <string>

namespace varpair {

class MappedFile {
 public:
  // Opens and maps `path`. Throws InputError with "Failed to open file: ", "Failed to get file
  // size: ", "Failed to create file mapping: " (also for an empty file) or "Failed to map view of
  // file: " followed by the path, after releasing what was obtained.
  explicit MappedFile(const std::string& path);
  ~MappedFile();
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  const char* data() const { return view_; }
  std::uint64_t size() const { return size_; }

  // Unmaps and closes now; also done by the destructor.
  void close();

 private:
  const char* view_ = nullptr;
  std::uint64_t size_ = 0;
  int fd_ = -1;
};

}  // namespace varpair
