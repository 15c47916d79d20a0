// When a series of calls stepped: change points over calls in time order,
// each call given with every one of its scored rounds. Pure, on plain
// figures, so that `ptrun history` and the simulations in bench/ share it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "decide/stats.h"

namespace ptrun {

// One call's scored rounds (rate scores, higher being better), oldest call first.
using CallRounds = std::vector<double>;

struct ChangePointSettings {
    // The test's level for each segment searched.
    double alpha = 0.01;
    // Calls each side of a split, at least. 2 makes a single outlier call no
    // change (it never has a side of its own) and lets a step show on the
    // second call after it: a step in the newest call waits for the next.
    std::size_t min_calls = 2;
    // Permutations of the calls per segment searched; the p-value's
    // resolution is 1 / (permutations + 1).
    std::size_t permutations = 999;
    std::uint64_t seed = 0x5eed'c4a1'6e00'0001;
};

struct ChangePoint {
    std::size_t first_call = 0;  // index of the first call after the change
    double split_p = 1;          // the search's permutation p-value for this split
    // The rounds of the segments either side (between the neighbouring
    // change points), after against before, as `compare` weighs them.
    SampleComparison comparison;
};

// Change points found by binary segmentation: in each segment, the split
// between two calls where the rank-sum statistic of rounds before against
// rounds after, standardised, is the largest (the Mann-Whitney statistic at
// every split, as Pettitt's test and the nonparametric change-point models
// use it, robust to skewed and heavy-tailed scores); the split stands when
// rearranging whole calls at random gives as large a maximum at most alpha
// of the time. Permuting calls, not rounds, keeps a call's rounds together
// as they were measured: rounds of one call share its conditions, and a
// test that took them as independent would see a change in every call that
// ran warm. Ordered by first_call. Time O(N log N + permutations * n) per
// segment searched, N rounds in n calls; memory O(N). Every round must be
// finite and above 0 and every call must have one: std::invalid_argument
// otherwise.
std::vector<ChangePoint> find_change_points(const std::vector<CallRounds>& calls,
                                            const ChangePointSettings& settings = {});

}  // namespace ptrun
