// Figures of the typed document, computed once from its runs.
#pragma once

#include <vector>

#include "model/document.h"

namespace ptrun {

std::vector<RunFigure> run_figures(const Document& document);

// Rounds, summaries (in the order of the document's hosts and builds, so
// that A is always the first build whatever ran first), flagged runs,
// reportability and the citation.
void compute_figures(Document& document);

}  // namespace ptrun
