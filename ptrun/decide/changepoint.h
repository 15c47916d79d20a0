// When a series of calls stepped: its levels, the change points between
// them and the calls that stood alone, over calls in time order, each call
// given with every one of its scored rounds. Pure, on plain figures, so that
// `ptrun history` and the simulations in bench/ share it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "decide/stats.h"

namespace ptrun {

// One call's scored rounds (rate scores, higher being better), oldest call first.
using CallRounds = std::vector<double>;

struct ChangePointSettings {
    // A call further than this many call spreads from its level costs no
    // more than one this far: a one-off bad call never drags a level ...
    double clip = 3;
    // ... and a new level costs this much (in squared call spreads). Above
    // clip squared, one call can never be a level of its own, however far
    // off; below twice that, two calls that agree can be, at either end.
    double penalty = 12;
    // A call spread estimated from d differences is widened by 1 + widen / d:
    // young series judge on a less certain spread.
    double widen = 3;
    // The level of the rank test that must confirm each change.
    double alpha = kAlpha;
    // Rearrangements of the calls for each change's own p (search_p); 0
    // leaves it at 1, for simulations that do not show it.
    std::size_t permutations = 999;
    std::uint64_t seed = 0x5eed'c4a1'6e00'0001;
};

// What a call is taken as: its median (calls with their own spread), or
// each of its rounds (calls whose rounds spread as much as calls do).
enum class Unit { calls, rounds };

struct ChangePoint {
    std::size_t first_call = 0;  // index of the first call after the change
    // The chance that rearranging the two levels' calls at random gives as
    // clear a split anywhere between them.
    double split_p = 1;
    // The level after against the level before, on the series' unit, as
    // `compare` weighs them; outlier calls left out.
    SampleComparison comparison;
    std::size_t rounds_before = 0, rounds_after = 0, calls_before = 0, calls_after = 0;
};

// A stretch of calls between changes.
struct Level {
    std::size_t first_call = 0, end_call = 0;  // [first_call, end_call)
    double median = 0;                         // of its calls' medians, outlier calls left out
};

// A call whose rounds all lie far from its level on one side, though it
// starts no level of its own (the newest call may yet start one).
struct OutlierCall {
    std::size_t call = 0;
    double ratio = 1;  // its median over its level's
};

struct Segmentation {
    std::vector<Level> levels;  // at least one where there are calls
    std::vector<ChangePoint> changes;  // between levels: changes[i] starts levels[i + 1]
    std::vector<OutlierCall> outliers;
    Unit unit = Unit::calls;
    double call_spread = 0;   // of a call's median, relative
    double round_spread = 0;  // of a round within its call, relative
};

// Levels by optimal partitioning of the calls' medians (in logs) under a
// loss that is quadratic up to `clip` call spreads and flat beyond (the
// biweight loss of robust change-point detection), plus `penalty` a level;
// solved exactly by functional pruning, in time about linear in the calls.
// The call spread is estimated from the differences of neighbouring calls,
// robust to steps and bad calls, and never below what the rounds' own
// spread gives a call. Each change must then be confirmed by the rank test
// of the levels either side (p at most alpha and the interval clear of 1),
// calls as the unit unless the rounds are shown to spread as much as the
// calls do; the least clear unconfirmed change is dropped until all stand.
// Every round must be finite and above 0 and every call must have one:
// std::invalid_argument otherwise.
Segmentation segment_calls(const std::vector<CallRounds>& calls, const ChangePointSettings& settings = {});

// segment_calls' changes alone.
std::vector<ChangePoint> find_change_points(const std::vector<CallRounds>& calls,
                                            const ChangePointSettings& settings = {});

// The values of the calls [first, end) as the unit takes them, the outlier
// calls left out: each call's median, or all its rounds.
std::vector<double> level_values(const std::vector<CallRounds>& calls, const Segmentation& segmentation,
                                 std::size_t first, std::size_t end);

}  // namespace ptrun
