#include "run/planner.h"

#include <algorithm>
#include <cstdio>

namespace ptrun {

std::string build_id(std::size_t index) { return std::string(1, static_cast<char>('A' + index)); }

Planner::Planner(const Settings& settings) : settings_(settings), shuffle_(settings.seed.value_or(0)) {}

std::optional<RoundPlan> Planner::next(const std::vector<RoundFigure>& done, double elapsed_s) {
    while (queue_.empty() && copies_at_ < settings_.copies.size()) {
        const int copies = settings_.copies[copies_at_];
        if (more_rounds(copies, done, elapsed_s)) {
            ++round_;
            for (std::size_t build : order_of_round()) {
                queue_.push_back({build, copies, round_, round_ <= settings_.warmup_rounds});
            }
        } else {
            copies_at_ = out_of_time_ ? settings_.copies.size() : copies_at_ + 1;
            round_ = 0;
        }
    }
    if (queue_.empty()) {
        if (stopped_because_.empty()) stopped_because_ = "planned rounds done";
        return std::nullopt;
    }
    const RoundPlan plan = queue_.front();
    queue_.pop_front();
    return plan;
}

bool Planner::more_rounds(int copies, const std::vector<RoundFigure>& done, double elapsed_s) {
    if (!settings_.until_cv) return round_ < settings_.warmup_rounds + settings_.runs;
    const int judged = round_ - settings_.warmup_rounds;
    if (settings_.max_time_s > 0 && elapsed_s >= settings_.max_time_s) {
        out_of_time_ = true;
        if (judged > 0) stop(copies, "--max-time reached");
        name_counts_not_run(judged > 0 ? copies_at_ + 1 : copies_at_);
        return false;
    }
    const int most = settings_.max_runs > 0 ? settings_.max_runs : kMaxRuns;
    std::vector<std::string> builds;
    for (std::size_t build = 0; build < settings_.pts.size(); ++build) builds.push_back(build_id(build));
    const StopRule rule{*settings_.until_cv, settings_.runs, most};
    const SpreadJudgement judgement = judge_spread(done, copies, builds, judged, rule);
    char text[128];
    switch (judgement.next) {
        case Spread::more: return true;
        case Spread::too_few_to_judge:
            std::snprintf(text, sizeof text, "--max-runs reached after %d %s, too few to judge the spread (%d needed)",
                          judged, judged == 1 ? "round" : "rounds", kFewestJudged);
            break;
        case Spread::steady:
            std::snprintf(text, sizeof text, "cv %.2f %% at most %g %%", judgement.cv * 100, *settings_.until_cv);
            break;
        case Spread::most_reached:
            std::snprintf(text, sizeof text, "%s reached, cv %.2f %% above %g %%",
                          settings_.max_runs > 0 ? "--max-runs" : "the most rounds", judgement.cv * 100,
                          *settings_.until_cv);
            break;
    }
    stop(copies, text);
    return false;
}

// The copy counts from index first on get no rounds once the time is out:
// said, so that a call of 1,2,4 copies that only ran 1 does not read as done.
void Planner::name_counts_not_run(std::size_t first) {
    if (first >= settings_.copies.size()) return;
    std::string counts;
    for (std::size_t i = first; i < settings_.copies.size(); ++i) {
        counts += (counts.empty() ? "" : ", ") + std::to_string(settings_.copies[i]);
    }
    if (!stopped_because_.empty()) stopped_because_ += "; ";
    stopped_because_ += (settings_.copies.size() - first == 1 ? "copies " : "copy counts ") + counts +
                        ": no rounds, --max-time reached first";
}

void Planner::stop(int copies, const std::string& why) {
    if (!stopped_because_.empty()) stopped_because_ += "; ";
    if (settings_.copies.size() > 1) stopped_because_ += "copies " + std::to_string(copies) + ": ";
    stopped_because_ += why;
}

std::vector<std::size_t> Planner::order_of_round() {
    std::vector<std::size_t> order(settings_.pts.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    if (settings_.order == "random") {
        // Fisher-Yates on the generator's own output: the same seed gives
        // the same order with every standard library.
        for (std::size_t i = order.size(); i > 1; --i) {
            const std::uint32_t span = static_cast<std::uint32_t>(i);
            const std::uint32_t limit = static_cast<std::uint32_t>(0x100000000ull / span * span - 1);
            std::uint32_t draw;
            do {
                draw = static_cast<std::uint32_t>(shuffle_());
            } while (draw > limit);
            std::swap(order[i - 1], order[draw % span]);
        }
    } else if (round_ % 2 == 0) {
        std::reverse(order.begin(), order.end());
    }
    return order;
}

int Planner::expected_rounds() const {
    const int per_build = settings_.until_cv ? std::max(kFewestJudged, settings_.runs) : settings_.runs;
    return static_cast<int>(settings_.copies.size() * settings_.pts.size()) * (settings_.warmup_rounds + per_build);
}

}  // namespace ptrun
