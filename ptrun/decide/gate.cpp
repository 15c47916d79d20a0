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

GateFold fold_gate(const std::vector<ComparisonEntry>& entries, double percent, bool strict) {
    GateFold fold;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const Gate result = gate(entries[i].figures, percent, strict);
        if (result == Gate::fail) fold.failed.push_back(i);
        if (result == Gate::undecided) fold.undecided.push_back(i);
    }
    fold.result = !fold.failed.empty() ? Gate::fail : !fold.undecided.empty() ? Gate::undecided : Gate::pass;
    if (fold.result != Gate::pass) return fold;
    const double bound = 1 - percent / 100;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].figures.ratio_low < bound) fold.unruled.push_back(i);
    }
    return fold;
}

}  // namespace ptrun
