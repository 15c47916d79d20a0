// The one entry that turns a document's runs into its figures: whatever
// read, merged or ran a document calls it before the figures are written,
// compared or shown.
#pragma once

#include "model/document.h"

namespace ptrun {

// The figures beyond the rounds, which every command needs; each command
// asks only for those its output shows (a history shows rounds alone, and
// spent a tenth of its time on comparisons and citations it threw away).
// Any of them brings the summaries, on which they rest.
struct Figures {
    bool summary = true, comparisons = true, standings = true, reportability = true;
};
inline constexpr Figures kEveryFigure{};
inline constexpr Figures kRoundsOnly{false, false, false, false};

// Rounds and, as asked, summaries (in the order of the document's hosts and
// builds, so that A is always the first build whatever ran first) and
// flagged runs, each call's comparison of its builds with its first, the
// comparison of every series of a fleet with its first, each host's
// standing in its kind, reportability and the citation.
void analyse(Document& document, const Figures& wanted = kEveryFigure);

// The comparison of the series of host b_host, build b with the document's
// first series of the same copy count, over the rounds of every call;
// nullptr where there is none (b is the first series itself).
const ComparisonEntry* against_first(const Document& document, const std::string& b_host, const std::string& b,
                                     int copies);

}  // namespace ptrun
