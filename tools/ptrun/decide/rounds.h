// Rounds and summaries from the runs: pure, the same for the figures ptrun
// writes, merges, compares and reports.
#pragma once

#include <vector>

#include "model/figures.h"

namespace ptrun {

double median_of(std::vector<double> values);
// Sample standard deviation over the mean; 0 for fewer than two values.
double cv_of(const std::vector<double>& values);

std::vector<RoundFigure> rounds_of(const std::vector<RunFigure>& runs);
std::vector<SummaryFigure> summarise(const std::vector<RunFigure>& runs, const std::vector<RoundFigure>& rounds);

}  // namespace ptrun
