// Rounds and summaries from the runs: pure, the same for the figures ptrun
// writes, merges, compares and reports.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace ptrun {

struct RunFigure {
    std::string call, host, build;
    int copies = 0, round = 0, copy = 0;
    bool warmup = false, flagged = false;
    std::optional<double> score;
};

// A round's rate score is the sum of its copies' scores; only rounds whose
// copies all have a score are rounds.
struct RoundFigure {
    std::string call, host, build;
    int copies = 0, round = 0;
    bool warmup = false, flagged = false;
    double rate = 0;
};

// Per host, build and copy count, over the rounds that are not warm-up.
struct SummaryFigure {
    std::string host, build;
    int copies = 0;
    std::size_t rounds = 0;
    double median = 0, min = 0, max = 0, cv = 0;
    std::optional<double> efficiency;  // against the one-copy median of the same host and build
    int flagged = 0;                   // flagged runs that are not warm-up
};

double median_of(std::vector<double> values);
// Sample standard deviation over the mean; 0 for fewer than two values.
double cv_of(const std::vector<double>& values);

std::vector<RoundFigure> rounds_of(const std::vector<RunFigure>& runs);
std::vector<SummaryFigure> summarise(const std::vector<RunFigure>& runs, const std::vector<RoundFigure>& rounds);

}  // namespace ptrun
