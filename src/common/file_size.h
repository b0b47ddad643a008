// File sizes as the run reports write them.
#pragma once

#include <cstdint>
#include <string>

namespace varpair {

// "1.50 KB": a file's size for the reports; "File not accessible" or "Size calculation failed".
std::string file_size_text(const std::string& path);

// The size text of a byte count, units B to TB.
std::string size_text(std::uint64_t bytes);

}  // namespace varpair
