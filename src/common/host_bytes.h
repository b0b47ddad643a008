// Large host buffers in transparent huge pages where the system offers them: a buffer of hundreds
// of megabytes then costs hundreds of page faults instead of hundreds of thousands. Pages are still
// committed as they are first written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace varpair {

struct FreeHost {
  void operator()(void* p) const { std::free(p); }
};
template <class T>
using HostArray = std::unique_ptr<T[], FreeHost>;
using HostBytes = HostArray<std::uint8_t>;

// An uninitialised buffer of `bytes` bytes (at least 1); throws std::bad_alloc when there is none.
HostBytes allocate_host_bytes(std::size_t bytes);

// An uninitialised array of `count` elements of a trivial type.
template <class T>
HostArray<T> allocate_host_array(std::size_t count) {
  return HostArray<T>(reinterpret_cast<T*>(allocate_host_bytes(count * sizeof(T)).release()));
}

// The same as a raw block for the host device's allocator: aligned to `alignment` (a power of two);
// null when there is none. Free with std::free.
void* allocate_large_block(std::size_t bytes, std::size_t alignment);

}  // namespace varpair
