#pragma once

#include <cstdint>

namespace varpair {

// Physical memory of this machine in bytes (1 GiB when the system cannot tell).
std::uint64_t physical_memory_bytes();

}  // namespace varpair
