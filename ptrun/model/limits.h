// How much one call may run, and so how much a results file may hold.
#pragma once

namespace ptrun {

inline constexpr int kMaxRuns = 100;
inline constexpr int kMaxCopies = 1024;
inline constexpr int kMaxBuilds = 26;

}  // namespace ptrun
