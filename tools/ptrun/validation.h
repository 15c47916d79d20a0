// Whether a build computes the defined work: its ptverify's digests of the
// first run against the ones pinned in this program's source. A score is a
// score of pt only when they agree.
#pragma once

#include <string>
#include <vector>

#include "machine.h"

namespace ptrun {

struct Validation {
    bool validated = false;
    std::string why;
};

// What ptverify --units kPinnedUnits printed, against the pins.
Validation check_digests(const std::string& output);

// Runs the build's ptverify and checks what it prints.
Validation validate_build(const Build& build);

// Validates every build; says on standard error what is not validated, and
// false when an unvalidated build is not allowed to run.
bool validate_builds(std::vector<Build>& builds, bool allow_unvalidated);

}  // namespace ptrun
