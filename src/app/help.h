// The help the program gives on request: the usage text, then every command and every option with
// its default (varpair --help), or one command's options (varpair COMMAND --help).
#pragma once

#include <ostream>
#include <string>

namespace varpair {

void print_help(std::ostream& out);
// False when there is no such command.
bool print_command_help(std::ostream& out, const std::string& command);

}  // namespace varpair
