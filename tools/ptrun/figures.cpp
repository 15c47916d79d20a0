#include "figures.h"

#include <algorithm>
#include <cmath>

namespace ptrun {

double median_of(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double cv_of(const std::vector<double>& values) {
    const std::size_t n = values.size();
    if (n < 2) return 0;
    double mean = 0;
    for (double value : values) mean += value;
    mean /= static_cast<double>(n);
    double squares = 0;
    for (double value : values) squares += (value - mean) * (value - mean);
    return mean != 0 ? std::sqrt(squares / static_cast<double>(n - 1)) / mean : 0;
}

std::vector<RoundFigure> rounds_of(const std::vector<RunFigure>& runs) {
    auto same_round = [](const RunFigure& run, const RoundFigure& round) {
        return run.call == round.call && run.host == round.host && run.build == round.build &&
               run.copies == round.copies && run.round == round.round;
    };
    std::vector<RoundFigure> rounds;
    std::vector<int> scored;
    for (const RunFigure& run : runs) {
        auto it = std::find_if(rounds.begin(), rounds.end(), [&](const RoundFigure& r) { return same_round(run, r); });
        if (it == rounds.end()) {
            rounds.push_back({run.call, run.host, run.build, run.copies, run.round, run.warmup, false, 0});
            scored.push_back(0);
            it = rounds.end() - 1;
        }
        const std::size_t at = static_cast<std::size_t>(it - rounds.begin());
        it->flagged = it->flagged || run.flagged;
        if (run.score) {
            it->rate += *run.score;
            ++scored[at];
        }
    }
    std::vector<RoundFigure> complete;
    for (std::size_t i = 0; i < rounds.size(); ++i) {
        if (scored[i] == rounds[i].copies) complete.push_back(rounds[i]);
    }
    return complete;
}

std::vector<SummaryFigure> summarise(const std::vector<RunFigure>& runs, const std::vector<RoundFigure>& rounds) {
    std::vector<SummaryFigure> summaries;
    for (const RoundFigure& round : rounds) {
        if (round.warmup) continue;
        const bool known = std::any_of(summaries.begin(), summaries.end(), [&](const SummaryFigure& s) {
            return s.host == round.host && s.build == round.build && s.copies == round.copies;
        });
        if (known) continue;
        SummaryFigure summary;
        summary.host = round.host;
        summary.build = round.build;
        summary.copies = round.copies;
        summaries.push_back(summary);
    }
    for (SummaryFigure& summary : summaries) {
        std::vector<double> rates;
        for (const RoundFigure& round : rounds) {
            if (!round.warmup && round.host == summary.host && round.build == summary.build &&
                round.copies == summary.copies) {
                rates.push_back(round.rate);
            }
        }
        summary.rounds = rates.size();
        summary.min = *std::min_element(rates.begin(), rates.end());
        summary.max = *std::max_element(rates.begin(), rates.end());
        summary.median = median_of(rates);
        summary.cv = cv_of(rates);
        summary.flagged = static_cast<int>(std::count_if(runs.begin(), runs.end(), [&summary](const RunFigure& run) {
            return !run.warmup && run.flagged && run.host == summary.host && run.build == summary.build &&
                   run.copies == summary.copies;
        }));
    }
    for (SummaryFigure& summary : summaries) {
        for (const SummaryFigure& single : summaries) {
            if (single.copies == 1 && summary.copies > 1 && single.host == summary.host &&
                single.build == summary.build && single.median > 0) {
                summary.efficiency = summary.median / (summary.copies * single.median);
            }
        }
    }
    return summaries;
}

}  // namespace ptrun
