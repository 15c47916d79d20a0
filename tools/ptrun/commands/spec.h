#pragma once

#include <optional>
#include <string>
#include <vector>

#include "run/settings.h"

namespace ptrun {

[[noreturn]] void usage_error(const std::string& message);
std::optional<long> whole_number(const std::string& text);
std::vector<std::string> split(const std::string& text, char separator);
std::optional<double> parse_duration(const std::string& text);
std::string temporary_base();
Settings parse_command_line(int argc, char** argv);

}  // namespace ptrun
