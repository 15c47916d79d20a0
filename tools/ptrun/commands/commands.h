// ptrun's commands: each takes the arguments after its name and returns the
// call's exit status.
#pragma once

#include <string>
#include <vector>

namespace ptrun {

int report_command(const std::vector<std::string>& args);
int merge_command(const std::vector<std::string>& args);

}  // namespace ptrun
