#include "common/host_bytes.h"

#include <sys/mman.h>

#include <new>

namespace varpair {

namespace {
constexpr std::size_t kHugePage = std::size_t{2} << 20;
}

void* allocate_large_block(std::size_t bytes, std::size_t alignment) {
  if (bytes < 2 * kHugePage) {
    const std::size_t rounded = (bytes + alignment - 1) / alignment * alignment;
    return std::aligned_alloc(alignment, rounded == 0 ? alignment : rounded);
  }
  const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
  void* p = std::aligned_alloc(kHugePage, rounded);
  if (p != nullptr) ::madvise(p, rounded, MADV_HUGEPAGE);  // a hint: without it, ordinary pages
  return p;
}

HostBytes allocate_host_bytes(std::size_t bytes) {
  void* p = allocate_large_block(bytes, 64);
  if (p == nullptr) throw std::bad_alloc();
  return HostBytes(static_cast<std::uint8_t*>(p));
}

}  // namespace varpair
