// Each copy's per-module profile: right after a round, the build's ptverify
// --profile runs once for every copy of it, all at once and each on its
// copy's processor, as the round ran; what it prints goes into the copy's
// record.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "model/document.h"

namespace ptrun {

// A profile costs at most this share of the run it follows (docs/measurements.md).
inline constexpr double kProfileShareOfRun = 0.02;
inline constexpr int kProfileUnits = 1000;

// What ptverify --profile printed, read and checked: a profile, or why it is
// none.
struct CopyProfile {
    std::optional<ModuleTimes> module_ms;
    std::optional<ModuleCounters> module_counters;
    std::optional<std::string> counters_unavailable;
    std::string problem;  // empty when the profile was read
};
CopyProfile read_profile(const std::string& output);

// The profile of a copy whose run took run_wall_s.
std::vector<std::string> profile_command(const std::string& verifier, double run_wall_s);

// Profiles the scored runs among runs[first...] with verifier, each on its
// run's processor; the first reason that counters (or the profile) could not
// be had is kept in counters_unavailable. False when a stop signal came.
bool profile_round(const std::string& verifier, std::vector<RunRecord>& runs, std::size_t first,
                   std::optional<std::string>& counters_unavailable);

}  // namespace ptrun
