#pragma once

#include <ostream>

namespace varpair {

// The usage text of the program, written as it stands.
void print_usage(std::ostream& out);

}  // namespace varpair
