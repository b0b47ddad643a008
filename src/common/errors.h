// Error categories raised below the drivers. Each carries the text that the driver reports after
// its own prefix; the drivers catch them once.
#pragma once

#include <cstring>
#include <stdexcept>
#include <string>

namespace varpair {

// The input cannot be read or does not make a table we can analyse.
struct InputError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A device call failed; the text ends with the runtime's own error string.
struct DeviceError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The system's reason for a failure, as error messages end: ": No such file or directory".
inline std::string reason(int error_number) { return std::string(": ") + std::strerror(error_number); }

}  // namespace varpair
