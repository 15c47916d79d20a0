// Whether a results document is fit to be cited, and the line to cite it
// with: pure functions of the typed document, so that whatever reads or
// merges results files gives the same verdict.
#pragma once

#include <string>
#include <vector>

#include "model/document.h"

namespace ptrun {

inline constexpr int kMinReportableRounds = 3;

// Empty when the document is reportable; needs its figures.
std::vector<std::string> reportable_reasons(const Document& document);

// One line: per build its figures, compiler and flags, then the processor.
// Nothing for a document of several hosts (or none): one processor cannot
// stand for them all, and each call keeps its own line.
std::optional<std::string> citation(const Document& document);

}  // namespace ptrun
