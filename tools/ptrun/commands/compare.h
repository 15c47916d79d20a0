// ptrun compare: B against A from results files, with a verdict in words
// and a gate for a pipeline.
#pragma once

#include <string>
#include <vector>

namespace ptrun {

// Exit statuses of ptrun compare.
inline constexpr int kCompareOk = 0;
inline constexpr int kCompareGateFailed = 1;
inline constexpr int kCompareBadInput = 2;

// The arguments after "compare".
int compare_command(const std::vector<std::string>& args);

}  // namespace ptrun
