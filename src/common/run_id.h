// A run's identifier: 32 hexadecimal digits from the system's random source, so that outputs that
// belong together (metadata and parts directory) can tell another run's files from their own.
#pragma once

#include <cstdio>
#include <random>
#include <string>

namespace varpair {

inline std::string new_run_id() {
  std::random_device source;
  std::string id;
  for (int k = 0; k < 4; ++k) {
    char word[9];
    std::snprintf(word, sizeof word, "%08x", static_cast<unsigned>(source()));
    id += word;
  }
  return id;
}

}  // namespace varpair
