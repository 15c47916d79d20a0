#include "commands/option_table.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace ptrun {

namespace {

constexpr std::size_t kHelpColumn = 28;

const Option* find_option(const OptionTable& table, const std::string& name) {
    for (const Option& option : table.options) {
        for (const std::string& spelling : option.names) {
            if (spelling == name) return &option;
        }
    }
    return nullptr;
}

std::string option_names(const Option& option) {
    std::string names;
    for (const std::string& name : option.names) names += (names.empty() ? "" : ", ") + name;
    return option.value.empty() ? names : names + " " + option.value;
}

// One option of the help: its names, and its text from a column of its own.
std::string help_entry(const std::string& names, const std::string& help) {
    std::string entry = "  " + names;
    entry += entry.size() + 2 <= kHelpColumn ? std::string(kHelpColumn - entry.size(), ' ')
                                             : "\n" + std::string(kHelpColumn, ' ');
    for (const char c : help) entry += c == '\n' ? "\n" + std::string(kHelpColumn, ' ') : std::string(1, c);
    return entry + "\n";
}

}  // namespace

std::optional<std::vector<std::string>> parse_options(const OptionTable& table, const std::vector<std::string>& args) {
    std::vector<std::string> operands;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") return std::nullopt;
        if (arg == "--version") throw VersionAsked{};
        if (arg == "--") {
            operands.insert(operands.end(), args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
            break;
        }
        if (arg.size() < 2 || arg[0] != '-') {
            operands.push_back(arg);
            continue;
        }
        // --name=value is --name value.
        const std::size_t equals = arg.rfind("--", 0) == 0 ? arg.find('=') : std::string::npos;
        const std::string name = arg.substr(0, equals);
        const Option* option = find_option(table, name);
        if (option == nullptr) throw UsageError("unknown option " + name);
        if (option->value.empty()) {
            if (equals != std::string::npos) throw UsageError(name + " takes no value");
            option->take("");
        } else if (equals != std::string::npos) {
            option->take(arg.substr(equals + 1));
        } else if (i + 1 < args.size()) {
            option->take(args[++i]);
        } else {
            throw UsageError(name + " needs a value (" + option->value + ")");
        }
    }
    if (table.operands.empty() && !operands.empty()) throw UsageError("unexpected argument " + operands.front());
    return operands;
}

std::string help_text(const OptionTable& table) {
    std::string text = "Usage: ptrun" + (table.name.empty() ? "" : " " + table.name) + " [OPTION]..." +
                       (table.operands.empty() ? "" : " " + table.operands) + "\n" + table.about + "\nOptions:\n";
    for (const Option& option : table.options) text += help_entry(option_names(option), option.help);
    text += help_entry("-h, --help", "this help");
    text += help_entry("--version", "ptrun's version line: its version, compiler, flags and target");
    if (!table.exits.empty()) text += "\nExit status:\n";
    for (const ExitStatus& status : table.exits) text += help_entry(status.codes, status.meaning);
    return text;
}

int print_help(const std::string& text) {
    std::fputs(text.c_str(), stdout);
    return std::fflush(stdout) == 0 && std::ferror(stdout) == 0 ? 0 : 1;
}

int whole_option(const std::string& option, const std::string& value, long low, long high) {
    const std::optional<long> count = whole_number(value);
    if (!count || *count < low || *count > high) {
        throw UsageError("bad " + option + " \"" + value + "\": a number from " + std::to_string(low) + " to " +
                         std::to_string(high));
    }
    return static_cast<int>(*count);
}

double percent_option(const std::string& option, const std::string& value, double low, bool low_allowed) {
    char* end = nullptr;
    errno = 0;
    const double pct = std::strtod(value.c_str(), &end);
    const bool above_low = low_allowed ? pct >= low : pct > low;
    if (end == value.c_str() || *end != '\0' || !std::isfinite(pct) || !above_low || pct >= 100) {
        char range[64];
        std::snprintf(range, sizeof range, low_allowed ? "from %g to below 100" : "above %g and below 100", low);
        throw UsageError("bad " + option + " \"" + value + "\": a percentage " + range);
    }
    return pct;
}

std::function<void(const std::string& value)> gate_option(std::optional<double>& percent, bool& is_strict,
                                                          bool strict) {
    return [&percent, &is_strict, strict](const std::string& value) {
        const double pct = percent_option(strict ? "--fail-above-strict" : "--fail-above", value, 0, true);
        if (percent && is_strict != strict) throw UsageError("--fail-above and --fail-above-strict: give one");
        percent = pct;
        is_strict = strict;
    };
}

std::optional<long> whole_number(const std::string& text) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    return std::strtol(text.c_str(), nullptr, 10);
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t at = 0;
    for (std::size_t next; (next = text.find(separator, at)) != std::string::npos; at = next + 1) {
        parts.push_back(text.substr(at, next - at));
    }
    parts.push_back(text.substr(at));
    return parts;
}

std::optional<double> parse_duration(const std::string& text) {
    if (text.empty()) return std::nullopt;
    double scale = 1;
    std::string digits = text;
    switch (text.back()) {
        case 's': scale = 1; digits.pop_back(); break;
        case 'm': scale = 60; digits.pop_back(); break;
        case 'h': scale = 3600; digits.pop_back(); break;
        default: break;
    }
    const std::optional<long> count = whole_number(digits);
    if (!count || *count < 1) return std::nullopt;
    return static_cast<double>(*count) * scale;
}

}  // namespace ptrun
