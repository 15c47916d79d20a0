// A command's options, each named once with the value it takes, its help and
// what it does with the value: one table reads the command line and prints
// the command's --help, so the two cannot disagree.
#pragma once

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace ptrun {

// Bad input on a command line. Thrown from wherever it is found; main says
// so, naming the command's --help, and ends the call with exit status 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// --version, wherever it stands among a command's options: main prints
// ptrun's version line and the call ends with 0.
struct VersionAsked {};

struct Option {
    std::vector<std::string> names;  // "--output", "-o": every spelling it answers to
    std::string value;               // the value's name in the help ("N"); empty for a switch
    std::string help;                // one line or more, separated by '\n'
    std::function<void(const std::string& value)> take;  // checks and keeps the value; throws UsageError
};

// What one exit status of a command means. The manual page lists the same
// statuses, which a test holds to this table.
struct ExitStatus {
    std::string codes;    // "0", or several that mean one thing ("129, 130, 143")
    std::string meaning;
};

struct OptionTable {
    std::string name;      // as typed after ptrun; empty for ptrun itself
    std::string operands;  // after the options in the usage line ("FILE..."); empty: none taken
    std::string about;     // what the command does, above its options
    std::vector<Option> options;
    std::vector<ExitStatus> exits;
};

// The arguments that are no option, in order (after "--" every argument is
// one); nothing when --help or -h was asked for. Throws UsageError, or
// VersionAsked for --version.
std::optional<std::vector<std::string>> parse_options(const OptionTable& table, const std::vector<std::string>& args);

std::string help_text(const OptionTable& table);
// Prints the help on standard output: 0, or 1 when it could not be written.
int print_help(const std::string& text);

// Shared checks of values, each throwing UsageError that names the option.
int whole_option(const std::string& option, const std::string& value, long low, long high);
// A percentage in [low, 100), or in (low, 100) when low itself is not allowed.
double percent_option(const std::string& option, const std::string& value, double low, bool low_allowed);
// What --fail-above (strict false) or --fail-above-strict takes: the gate's
// percentage into percent and its form into is_strict; the two together are
// refused.
std::function<void(const std::string& value)> gate_option(std::optional<double>& percent, bool& is_strict,
                                                          bool strict);

std::optional<long> whole_number(const std::string& text);
std::vector<std::string> split(const std::string& text, char separator);
// A duration such as 90, 90s, 15m or 2h, in seconds.
std::optional<double> parse_duration(const std::string& text);

}  // namespace ptrun
