// The machine the copies run on and the builds they run: what a figure must
// be read together with.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "model/host.h"
#include "run/environment.h"

namespace ptrun {

std::string read_text(const std::string& path);

// Standard output of a program (looked for in PATH when named without a
// folder), when it ends within seconds_allowed with exit code 0 and prints at
// most 64 KiB. Its standard input is the file input, or nothing. Nothing,
// and all it started ended, when it does not, and at once on a stop
// (system/signals.h), which is left for the caller to see.
std::optional<std::string> output_of(const std::vector<std::string>& command, double seconds_allowed,
                                     const std::string& input = "");

// programs: the pt builds the copies run, for the emulator a program of
// another family would run under.
Machine describe_machine(const std::vector<int>& cpus, const std::vector<std::string>& programs = {});
Build describe_build(const std::string& id, const std::string& pt);

}  // namespace ptrun
