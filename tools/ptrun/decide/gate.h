// The gate of `ptrun compare --fail-above PCT`: a decision on the figures of
// one comparison alone. The usual form fails when the test shows B slower
// and the estimate (the median of the pairwise ratios) lies more than PCT
// below 1; the strict form only when the whole interval does. "More than" is
// meant exactly: a slowdown of PCT itself passes (compared with a relative
// tolerance of 1e-12 against rounding).
#pragma once

#include "decide/stats.h"

namespace ptrun {

enum class Gate { pass, fail, undecided };

Gate gate(const SampleComparison& figures, double percent, bool strict);

}  // namespace ptrun
