// Whether a results document is fit to be cited, and the line to cite it
// with: pure functions of the document, so that whatever reads or merges
// results files gives the same verdict.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace ptrun {

using Json = nlohmann::ordered_json;

inline constexpr int kMinReportableRounds = 3;

// Empty when the document is reportable.
std::vector<std::string> reportable_reasons(const Json& document);

// One line: per build its figures, compiler and flags, then the processor.
std::string citation(const Json& document);

// Sets reportable, reportable_reasons and citation, and marks the summaries
// of unvalidated builds.
void add_verdict(Json& document);

}  // namespace ptrun
