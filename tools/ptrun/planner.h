// Which round comes next: the copy counts in the order given, warm-up rounds
// first, every build's round in turn.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "figures.h"
#include "options.h"

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
    std::vector<RoundPlan> fixed_;
    std::size_t at_ = 0;
    std::string stopped_because_;
};

}  // namespace ptrun
