// Runs a check on every vector target of the host backend that this processor has, and on the
// portable path, so that no vector test depends on the machine that runs it having one target.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "device/host_simd.h"

namespace varpair::test {

// Gives the host backend its own target back at the end of a scope, even when a check fails.
struct TargetReset {
  ~TargetReset() { host_simd::reset_target(); }
};

// check(name) once a target, the portable path first, each named in failures ("portable", "AVX2" ...).
template <class Check>
void for_each_target(Check&& check) {
  const TargetReset reset;
  for (const std::int64_t target : host_simd::available_targets()) {
    host_simd::force_target(target);
    const std::string name = host_simd::target_name();
    SCOPED_TRACE("target " + name);
    check(name);
  }
}

}  // namespace varpair::test
