#include "planner.h"

namespace ptrun {

std::string build_id(std::size_t index) { return std::string(1, static_cast<char>('A' + index)); }

Planner::Planner(const Settings& settings) {
    for (int copies : settings.copies) {
        for (int round = 1; round <= settings.warmup_rounds + settings.runs; ++round) {
            for (std::size_t build = 0; build < settings.pts.size(); ++build) {
                fixed_.push_back({build, copies, round, round <= settings.warmup_rounds});
            }
        }
    }
}

std::optional<RoundPlan> Planner::next(const std::vector<RoundFigure>& /*done*/, double /*elapsed_s*/) {
    if (at_ < fixed_.size()) return fixed_[at_++];
    stopped_because_ = "planned rounds done";
    return std::nullopt;
}

int Planner::expected_rounds() const { return static_cast<int>(fixed_.size()); }

}  // namespace ptrun
