// The gate of `ptrun compare --fail-above PCT`: a decision on the figures of
// each comparison, folded into one. The usual form fails when the test shows
// B slower and the estimate (the median of the pairwise ratios) lies more
// than PCT below 1; the strict form only when the whole interval does. "More
// than" is meant exactly: a slowdown of PCT itself passes (compared with a
// relative tolerance of 1e-12 against rounding).
#pragma once

#include <cstddef>
#include <vector>

#include "model/document.h"

namespace ptrun {

enum class Gate { pass, fail, undecided };

Gate gate(const SampleComparison& figures, double percent, bool strict);

// Every entry through the gate: it fails where one fails; else it cannot
// decide where one cannot (too few rounds); else it passes.
struct GateFold {
    Gate result = Gate::pass;
    std::vector<std::size_t> failed, undecided;  // indexes of the entries
    // Entries that passed although their interval reaches more than PCT
    // below 1: their rounds could not have ruled out such a slowdown.
    std::vector<std::size_t> unruled;
};

GateFold fold_gate(const std::vector<ComparisonEntry>& entries, double percent, bool strict);

}  // namespace ptrun
