#include "system/win32/command_line.h"

namespace ptrun {

namespace {

void append_quoted(std::string& line, const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos) {
        line += argument;
        return;
    }
    line += '"';
    std::size_t backslashes = 0;
    for (const char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        // Backslashes stand for themselves unless a quote follows them.
        line.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        line += c;
    }
    line.append(2 * backslashes, '\\');  // before the closing quote
    line += '"';
}

}  // namespace

std::string windows_command_line(const std::vector<std::string>& arguments) {
    std::string line;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (i > 0) line += ' ';
        // The program's own name is split by other rules (no escapes), and
        // holds no quote: it is quoted whole.
        if (i == 0) {
            line += '"' + arguments[0] + '"';
        } else {
            append_quoted(line, arguments[i]);
        }
    }
    return line;
}

}  // namespace ptrun
