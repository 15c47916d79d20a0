// What a call of ptrun asks for, read from its command line. Bad input ends
// the call with exit code 2 before anything runs.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace ptrun {

inline constexpr int kMaxRuns = 100;
inline constexpr int kMaxCopies = 1024;
inline constexpr int kMaxBuilds = 26;

struct Settings {
    int runs = 3;
    std::vector<int> copies;
    std::vector<int> cpus;
    std::vector<std::string> pts;  // the builds, in the order given; at least one
    std::string json;
    std::string keep;
    std::string label;
    bool allow_unvalidated = false;
    std::optional<double> until_cv;  // percent
    int max_runs = 0;                // rounds per copy count and build under --until-cv; 0 = none
    double max_time_s = 0;           // 0 = none
    int warmup_rounds = 0;
    double timeout_s = 0;            // one copy's limit; 0 = the default
    std::string order = "single";    // single, abba or random
    std::optional<unsigned> seed;
    std::vector<std::string> command_line;
};

[[noreturn]] void usage_error(const std::string& message);

std::optional<long> whole_number(const std::string& text);
std::vector<std::string> split(const std::string& text, char separator);

// The processors this process may run on, in ascending order.
std::vector<int> usable_processors();

bool is_executable_file(const std::string& path);

// The folder for ptrun's private folder: TMPDIR, or /tmp when it is unset or
// empty; one that no folder can be made in ends the call (exit 2).
std::string temporary_base();

// A duration such as 90, 90s, 15m or 2h, in seconds.
std::optional<double> parse_duration(const std::string& text);

Settings parse_command_line(int argc, char** argv);

}  // namespace ptrun
