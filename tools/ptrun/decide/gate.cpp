#include "decide/gate.h"

namespace ptrun {

Gate gate(const SampleComparison& c, double percent, bool strict) {
    if (!c.decidable) return Gate::undecided;
    // B is slower by more than percent when the ratio lies below this bound,
    // not merely at it.
    const double bound = (1 - percent / 100) * (1 - 1e-12);
    if (strict) return c.ratio_high < bound ? Gate::fail : Gate::pass;
    return c.verdict == Verdict::slower && c.estimate < bound ? Gate::fail : Gate::pass;
}

}  // namespace ptrun
