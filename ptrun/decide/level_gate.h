// The gate of `ptrun history --fail-above PCT`: a series' newest level
// against its baseline, the level after the newest accepted change or else
// its first level, decided on their comparison as `compare`'s gate decides.
// Judging levels, not the newest change, a series that only got slower
// never passes again, a drift beyond PCT fails, a fixed regression passes,
// and a speed-up never fails.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "decide/changepoint.h"
#include "decide/gate.h"

namespace ptrun {

struct LevelGate {
    Gate result = Gate::pass;
    std::size_t baseline = 0, newest = 0;  // indexes of the levels compared
    // The newest level against the baseline, on the series' unit; none
    // where the newest level is the baseline.
    std::optional<SampleComparison> figures;
};

// accepted_from: the first call after the newest accepted change, if any;
// the baseline is the level that holds it.
LevelGate gate_levels(const std::vector<CallRounds>& calls, const Segmentation& segmentation,
                      std::optional<std::size_t> accepted_from, double percent, bool strict);

}  // namespace ptrun
