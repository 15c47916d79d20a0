// Figures of the typed document, computed once from its runs.
#pragma once

#include <string>
#include <vector>

#include "model/document.h"

namespace ptrun {

std::vector<RunFigure> run_figures(const Document& document);

// Rounds, summaries (in the order of the document's hosts and builds, so
// that A is always the first build whatever ran first), flagged runs,
// reportability and the citation.
void compute_figures(Document& document);

// The one call of a document of one call, as a merge keeps it.
CallRecord call_record(const Document& document);

// 16 hex digits that stand for a text (FNV-1a): the id of a call made up
// from its file, or of a merge from its calls' ids.
std::string hex_digest(const std::string& text);

}  // namespace ptrun
