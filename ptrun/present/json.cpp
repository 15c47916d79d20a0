// JSON: the results document itself, for whatever reads results files.
#include "decide/compare.h"
#include "model/writer.h"
#include "present/text.h"

namespace ptrun {

// The one writer's text: what `ptrun merge` writes of the same files.
std::string report_json(const Document& doc) { return dump(doc); }

// The entries in the fields of a results file's comparison, the builds
// compared, and the gate with its outcome and messages.
std::string comparison_json(const Comparison& comparison) {
    using Json = nlohmann::ordered_json;
    Json builds = Json::array();
    for (const ComparedBuild& b : comparison.builds) {
        builds.push_back({{"role", b.role}, {"file", b.file}, {"host", b.host}, {"build", b.id}, {"line", b.line},
                          {"sha256", b.sha256}});
    }
    Json entries = Json::array();
    for (const ComparisonEntry& entry : comparison.entries) {
        Json written = comparison_json(entry);
        // A fraction, 0.031 for 3.1 %; null where no outcome could be significant.
        written["detectable_slowdown"] = entry.figures.detectable_slowdown ? Json(*entry.figures.detectable_slowdown)
                                                                           : Json(nullptr);
        entries.push_back(std::move(written));
    }
    Json out = {{"builds", std::move(builds)}, {"comparison", std::move(entries)},
                {"exclude_flagged", comparison.exclude_flagged}, {"notes", comparison.notes}};
    if (comparison.gate_rule) {
        const char* results[] = {"passed", "failed", "undecided"};
        out["gate"] = {{"percent", comparison.gate_rule->percent},
                       {"strict", comparison.gate_rule->strict},
                       {"result", results[static_cast<int>(comparison.gate.result)]},
                       {"messages", gate_lines(comparison)}};
    }
    return out.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace ptrun
