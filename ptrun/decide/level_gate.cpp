#include "decide/level_gate.h"

namespace ptrun {

namespace {
constexpr std::size_t kFewestBaselineCalls = 4;
}  // namespace

LevelGate gate_levels(const std::vector<CallRounds>& calls, const Segmentation& s,
                      std::optional<std::size_t> accepted_from, double percent, bool strict) {
    LevelGate g;
    if (s.levels.empty()) return g;
    g.newest = s.levels.size() - 1;
    if (accepted_from) {
        while (g.baseline < g.newest && s.levels[g.baseline].end_call <= *accepted_from) ++g.baseline;
    }
    if (g.baseline == g.newest) return g;
    Level from = s.levels[g.baseline];
    // The series' first few calls are too few to stand alone as its baseline.
    if (!accepted_from && from.end_call - from.first_call < kFewestBaselineCalls && g.baseline + 1 < g.newest) {
        from.end_call = s.levels[++g.baseline].end_call;
    }
    const Level& to = s.levels[g.newest];
    const std::vector<double> before = level_values(calls, s, from.first_call, from.end_call);
    const std::vector<double> after = level_values(calls, s, to.first_call, to.end_call);
    if (before.empty() || after.empty()) return g;
    g.figures = compare_samples(before, after);
    g.result = gate(*g.figures, percent, strict);
    return g;
}

}  // namespace ptrun
