// What every command that shows a result shares: its --format and -o,
// made from the one table of formats, and its messages on standard error.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "commands/option_table.h"
#include "present/formats.h"
#include "system/output.h"

namespace ptrun {

struct OutputChoice {
    const Format* format = nullptr;
    std::string out;  // empty: standard output
};

// --format (the formats that show kind, the default first in the help) and
// -o/--output; choice starts at the default format.
std::vector<Option> output_options(ResultKind kind, std::string_view default_format, OutputChoice& choice);

// Where -o writes, checked before any file is read; throws UsageError naming -o.
Target output_target(const OutputChoice& choice);

// Writes text to target; false after saying why as command, where a
// failure to write standard output names what was lost ("the comparison").
bool write_result(std::string_view command, std::string_view what, const Target& target, const std::string& text);

// "ptrun COMMAND: message" on standard error, every control character of
// the message (which may quote files, hosts and labels) written visibly.
void say(std::string_view command, const std::string& message);

}  // namespace ptrun
