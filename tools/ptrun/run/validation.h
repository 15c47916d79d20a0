// Whether a build computes the defined work: its ptverify's digests of the
// first run against the ones pinned in this program's source. A score is a
// score of pt only when they agree.
#pragma once

#include <string>
#include <vector>

#include "run/machine.h"

namespace ptrun {

struct Validation {
    bool validated = false;
    std::string why;
};

// What ptverify --units kPinnedUnits printed, against the pins.
Validation check_digests(const std::string& output);

// What a build's ptverify printed (at most 64 KiB), or why there is nothing
// to check: it failed, printed more, or did not end in time. Either way it
// ends with its whole process group. A stop signal waiting (blocked, as ptrun
// keeps them) ends it at once, and is left waiting for the caller.
struct VerifierOutput {
    std::string output;
    std::string problem;
    bool interrupted = false;
};
VerifierOutput verifier_output(const std::vector<std::string>& command, double seconds_allowed);

// Whether SIGINT, SIGTERM or SIGHUP is waiting to be taken.
bool stop_signal_pending();

// Runs the build's ptverify and checks what it prints.
Validation validate_build(const Build& build);

// Validates every build; says on standard error what is not validated, and
// false when an unvalidated build is not allowed to run. A stop signal ends
// it early with true: the run command then ends the call on it.
bool validate_builds(std::vector<Build>& builds, bool allow_unvalidated);

}  // namespace ptrun
