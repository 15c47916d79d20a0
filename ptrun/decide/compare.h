// What `ptrun compare` decides: B against A in one or two results files, the
// builds each side is, what differs between them, and the gate. One typed
// result that every format shows the same way.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "decide/gate.h"
#include "model/document.h"
#include "model/merge.h"

namespace ptrun {

// --fail-above PCT, or --fail-above-strict PCT.
struct GateRule {
    double percent = 0;
    bool strict = false;
};

struct CompareRequest {
    std::string a_build, b_build, a_host, b_host;  // empty: the first (for b_build: every build)
    bool exclude_flagged = false;
    std::optional<GateRule> gate;
};

// A build as a side of the comparison, and what it was run as.
struct ComparedBuild {
    std::string role;  // "A", "B", or "B:2" where B's file gives several builds; a build id within one file
    std::string file, host, id, line, sha256;
};

struct Comparison {
    std::vector<ComparedBuild> builds;  // A first
    std::vector<ComparisonEntry> entries;
    bool one_call = false;  // builds of one call: they are meant to differ
    bool exclude_flagged = false;
    // What was chosen for the user where they did not say.
    std::vector<std::string> notes;
    std::optional<GateRule> gate_rule;
    GateFold gate;  // where a rule was given
};

// B against A in sources (one file, whose builds or hosts are compared, or
// two). Nothing, and why in error, where a side names no such host or build
// or the two share no copy count with scored rounds.
std::optional<Comparison> compare_files(std::vector<Source>& sources, const CompareRequest& request,
                                        std::string& error);

// Who an entry's B is in messages: "B, 1 copy".
std::string entry_name(const ComparisonEntry& entry);

}  // namespace ptrun
