// The stop rule of `ptrun run --until-cv`: whether a copy count has rounds
// enough, judged on the spread of every build's rate scores.
#pragma once

#include <string>
#include <vector>

#include "model/figures.h"

namespace ptrun {

// The fewest rounds outside warm-up a spread is judged on.
inline constexpr int kFewestJudged = 3;

struct StopRule {
    double until_cv = 0;  // percent
    int runs = 0;         // rounds asked for: judged no sooner
    int most = 0;         // rounds at most
};

enum class Spread { more, too_few_to_judge, steady, most_reached };

struct SpreadJudgement {
    Spread next = Spread::more;
    double cv = 0;  // the widest of the builds', where judged
};

// judged: the rounds outside warm-up the copy count has had, per build. The
// widest spread of the builds decides: each must be steady.
SpreadJudgement judge_spread(const std::vector<RoundFigure>& done, int copies, const std::vector<std::string>& builds,
                             int judged, const StopRule& rule);

}  // namespace ptrun
