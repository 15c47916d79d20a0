// Rounds and summaries from the runs: pure, the same for the figures ptrun
// writes, merges, compares and reports.
#pragma once

#include <vector>

#include "model/document.h"
#include "model/figures.h"

namespace ptrun {

double median_of(std::vector<double> values);
// Sample standard deviation over the mean; 0 for fewer than two values.
double cv_of(const std::vector<double>& values);

// In the order of each round's first run; a round's scores added in the order of its runs.
std::vector<RoundFigure> rounds_of(const std::vector<RunRecord>& runs);
std::vector<SummaryFigure> summarise(const std::vector<RunRecord>& runs, const std::vector<RoundFigure>& rounds);

}  // namespace ptrun
