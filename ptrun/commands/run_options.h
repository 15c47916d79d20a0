// The options of a run, and the settings they make, checked before anything
// runs: every path, every processor and every count.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "commands/option_table.h"
#include "run/settings.h"

namespace ptrun {

// What the command line gives before it is checked as a whole.
struct RunInput {
    Settings settings;
    std::string copies = "1", cpus;
    bool order_given = false;
};

OptionTable run_table(RunInput& into);

// Nothing when --help was asked for; throws UsageError on bad input.
std::optional<Settings> read_run_settings(const std::vector<std::string>& args,
                                          const std::vector<std::string>& command_line);

}  // namespace ptrun
