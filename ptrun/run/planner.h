// Which round comes next: the copy counts in the order given, warm-up rounds
// first, then a round of every build in turn (ABBA: forward, then backward;
// or shuffled from the recorded seed) so that drift and heat hit every build
// alike. Under --until-cv rounds are added per copy count until the spread
// of every build is small enough or a bound is reached.
#pragma once

#include <cstddef>
#include <deque>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "decide/rounds.h"
#include "decide/stop_rule.h"
#include "run/settings.h"

namespace ptrun {

// A build's id: A, B, ... in the order of --pt.
std::string build_id(std::size_t index);

struct RoundPlan {
    std::size_t build = 0;
    int copies = 0;
    int round = 0;  // counted per build and copy count, warm-up rounds included
    bool warmup = false;
};

class Planner {
public:
    explicit Planner(const Settings& settings);
    // The next round, given the rounds done so far (with their figures) and
    // the seconds since the call began; nothing when the call is done, and
    // then why in stopped_because().
    std::optional<RoundPlan> next(const std::vector<RoundFigure>& done, double elapsed_s);
    const std::string& stopped_because() const { return stopped_because_; }
    // The rounds planned in all, for the progress line; a guess under a stop rule.
    int expected_rounds() const;

private:
    bool more_rounds(int copies, const std::vector<RoundFigure>& done, double elapsed_s);
    std::vector<std::size_t> order_of_round();
    void stop(int copies, const std::string& why);
    void name_counts_not_run(std::size_t first);

    Settings settings_;
    std::mt19937 shuffle_;
    std::size_t copies_at_ = 0;
    int round_ = 0;  // rounds begun of the current copy count, per build
    bool out_of_time_ = false;
    std::deque<RoundPlan> queue_;
    std::string stopped_because_;
};

}  // namespace ptrun
