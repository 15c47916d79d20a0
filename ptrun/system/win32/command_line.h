// The one text Windows hands a new program for all its arguments. Plain
// text work, built on every system so that its tests run everywhere.
#pragma once

#include <string>
#include <vector>

namespace ptrun {

// The command line that gives the program back exactly these arguments
// (the program first) when its C runtime splits it: an argument with a blank
// or a quote, or an empty one, is quoted, and backslashes are doubled only
// where they come before a quote.
std::string windows_command_line(const std::vector<std::string>& arguments);

}  // namespace ptrun
