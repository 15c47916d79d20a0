#include "decide/stop_rule.h"

#include <algorithm>

#include "decide/rounds.h"

namespace ptrun {

SpreadJudgement judge_spread(const std::vector<RoundFigure>& done, int copies, const std::vector<std::string>& builds,
                             int judged, const StopRule& rule) {
    SpreadJudgement judgement;
    if (judged < std::min(std::max(kFewestJudged, rule.runs), rule.most)) return judgement;
    // A spread of one or two rounds says nothing about steadiness.
    if (judged < kFewestJudged) {
        judgement.next = Spread::too_few_to_judge;
        return judgement;
    }
    for (const std::string& build : builds) {
        std::vector<double> rates;
        for (const RoundFigure& round : done) {
            if (round.copies == copies && !round.warmup && round.build == build) rates.push_back(round.rate);
        }
        judgement.cv = std::max(judgement.cv, cv_of(rates));
    }
    if (judgement.cv * 100 <= rule.until_cv) {
        judgement.next = Spread::steady;
    } else if (judged >= rule.most) {
        judgement.next = Spread::most_reached;
    }
    return judgement;
}

}  // namespace ptrun
