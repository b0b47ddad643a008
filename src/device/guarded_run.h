// The outermost handler of a command: an error that escapes the run (memory exhaustion, say) ends
// it with a message on standard error and a device reset, never with a crash.
#pragma once

#include <exception>
#include <iostream>

#include "device/runtime.h"

namespace varpair {

template <class Run>
int run_guarded(const char* command, Run&& run) {
  try {
    return run();
  } catch (const std::exception& e) {
    std::cerr << "Exception in " << command << ": " << e.what() << std::endl;
  } catch (...) {
    std::cerr << "Unknown exception in " << command << std::endl;
  }
  cudaDeviceReset();
  return 1;
}

}  // namespace varpair
