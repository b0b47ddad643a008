// Test interface of the result tables: how many records a run's table sorts in memory before it
// spills them, so that tests reach spilled runs and their merge with small tables. Not reachable
// from the command line.
#pragma once

#include <cstddef>

namespace varpair::testing {

// 0 restores the default.
void set_table_run_length(std::size_t records);

}  // namespace varpair::testing
