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
// ends with its whole process group. A stop signal ends it at once, and is
// left for the caller to see (system/signals.h).
struct VerifierOutput {
    std::string output;
    std::string problem;
    bool interrupted = false;
};
VerifierOutput verifier_output(const std::vector<std::string>& command, double seconds_allowed);

// Runs the build's ptverify and checks what it prints; "interrupted" once a
// stop signal has come.
Validation validate_build(const Build& build);

// Validates every build; says on standard error what is not validated, and
// false when an unvalidated build is not allowed to run. After a stop signal
// it checks nothing more and is true: the run command then ends the call on it.
bool validate_builds(std::vector<Build>& builds, bool allow_unvalidated);

}  // namespace ptrun
