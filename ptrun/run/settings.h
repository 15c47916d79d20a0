// What a call of ptrun asks for, read from its command line and checked
// (commands/run_options.cpp) before anything runs.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "model/limits.h"

namespace ptrun {

struct Settings {
    int runs = 3;
    std::vector<int> copies;
    std::vector<int> cpus;
    std::vector<std::string> pts;  // the builds, in the order given; at least one
    std::string json;
    std::string keep;
    std::string label;
    bool allow_unvalidated = false;
    bool profile = true;             // each copy's profile right after its round
    std::optional<double> until_cv;  // percent
    int max_runs = 0;                // rounds per copy count and build under --until-cv; 0 = none
    double max_time_s = 0;           // 0 = none
    int warmup_rounds = 0;
    double timeout_s = 0;            // one copy's limit; 0 = the default
    std::string order = "single";    // single, abba or random
    std::optional<unsigned> seed;
    std::vector<std::string> command_line;
};

}  // namespace ptrun
