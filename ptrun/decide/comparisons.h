// B against A on the typed document: the entries `ptrun compare` prints, a
// call's own comparison and the report's all come from here.
#pragma once

#include <string>
#include <vector>

#include "decide/stats.h"
#include "model/document.h"

namespace ptrun {

// What differs between build a on host a and build b on host b that can
// move a score: build line, binary sha256, processor model, governor, SMT,
// microcode, kernel, boost, hypervisor, memory, processors online, emulator,
// the processor's vulnerabilities and their mitigations. A value one side
// records and the other does not counts as a difference: sameness cannot be
// shown.
std::vector<Difference> differences(const Build& build_a, const Host& host_a, const Build& build_b,
                                    const Host& host_b);

// Which rounds a side is made of.
struct SideChoice {
    const Document* document = nullptr;
    std::string host, build;
    std::string call_id;  // empty: every call
    // Where set, the rounds to look at instead of all the document's (those
    // of the call, gathered once for a document of many calls).
    const std::vector<const RoundFigure*>* rounds = nullptr;
    int copies = 0;  // 0: every copy count
};

// B against A: one entry per copy count both have rounds of outside
// warm-up, in ascending order. exclude_flagged leaves out rounds with a
// flagged run (then counted in neither flagged_a nor flagged_b).
std::vector<ComparisonEntry> compare_sides(const SideChoice& a, const SideChoice& b, bool exclude_flagged = false,
                                           double alpha = kAlpha);

}  // namespace ptrun
