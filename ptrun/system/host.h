// What ptrun asks of the system it runs on before it starts anything.
#pragma once

#include <string>
#include <vector>

namespace ptrun {

// The processors this process may run on, in ascending order.
std::vector<int> usable_processors();

bool is_executable_file(const std::string& path);

// The folder for ptrun's private folder: TMPDIR, or /tmp when it is unset or
// empty. Empty, and why in error, when no folder can be made in it.
std::string temporary_base(std::string& error);

}  // namespace ptrun
