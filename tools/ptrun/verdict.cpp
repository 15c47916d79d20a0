#include "verdict.h"

#include <cstdio>

namespace ptrun {

namespace {

std::string text_of(const Json& object, const char* key) {
    return object.is_object() && object.contains(key) && object[key].is_string() ? object[key].get<std::string>() : "";
}

const Json& list_of(const Json& document, const char* key) {
    static const Json empty = Json::array();
    return document.contains(key) && document[key].is_array() ? document[key] : empty;
}

bool validated(const Json& document, const std::string& build) {
    for (const Json& entry : list_of(document, "builds")) {
        if (text_of(entry, "id") == build) return entry.value("validated", false);
    }
    return false;
}

std::string copies_text(int copies) { return std::to_string(copies) + (copies == 1 ? " copy" : " copies"); }

bool environment_recorded(const Json& document) {
    std::vector<const Json*> machines;
    if (document.contains("machine")) machines.push_back(&document["machine"]);
    for (const Json& host : list_of(document, "hosts")) {
        if (host.contains("machine")) machines.push_back(&host["machine"]);
    }
    if (machines.empty()) return false;
    for (const Json* machine : machines) {
        if (!machine->is_object() || !machine->contains("environment") || !(*machine)["environment"].is_object()) {
            return false;
        }
    }
    for (const Json& run : list_of(document, "runs")) {
        if (run.value("warmup", false)) continue;
        for (const char* key : {"environment_before", "environment_after"}) {
            if (!run.contains(key) || !run[key].is_object()) return false;
        }
    }
    return true;
}

}  // namespace

std::vector<std::string> reportable_reasons(const Json& document) {
    std::vector<std::string> reasons;
    const std::string outcome = text_of(document, "outcome");
    if (outcome != "completed") reasons.push_back("the call did not complete (" + outcome + ")");
    const Json& summaries = list_of(document, "summary");
    if (summaries.empty()) reasons.push_back("no figures");
    const bool several = list_of(document, "builds").size() > 1;
    int flagged = 0;
    for (const Json& summary : summaries) {
        const int rounds = summary.value("runs", 0);
        if (rounds < kMinReportableRounds) {
            reasons.push_back((several ? "build " + text_of(summary, "build") + ", " : "") +
                              copies_text(summary.value("copies", 0)) + ": " + std::to_string(rounds) +
                              (rounds == 1 ? " round" : " rounds") + ", fewer than " +
                              std::to_string(kMinReportableRounds));
        }
        flagged += summary.value("flagged_runs", 0);
    }
    if (flagged > 0) {
        reasons.push_back(std::to_string(flagged) + (flagged == 1 ? " run" : " runs") +
                          " flagged: the machine was not quiet");
    }
    for (const Json& build : list_of(document, "builds")) {
        if (build.value("validated", false)) continue;
        const std::string why = text_of(build, "validation");
        reasons.push_back("build " + text_of(build, "id") + " not validated" + (why.empty() ? "" : ": " + why));
    }
    if (list_of(document, "builds").empty()) reasons.push_back("no build described");
    if (!environment_recorded(document)) reasons.push_back("the environment was not recorded for every run");
    return reasons;
}

std::string citation(const Json& document) {
    std::string line;
    const bool several = list_of(document, "builds").size() > 1;
    for (const Json& build : list_of(document, "builds")) {
        const std::string id = text_of(build, "id");
        const Json info = build.value("build_info", Json::object());
        const std::string version = text_of(info, "version");
        std::string figures;
        for (const Json& summary : list_of(document, "summary")) {
            if (text_of(summary, "build") != id || !summary["median"].is_number()) continue;
            char text[160];
            std::snprintf(text, sizeof text, "%.1f work units/s (median of %d, CV %.1f %%), %s",
                          summary["median"].get<double>(), summary.value("runs", 0), summary.value("cv", 0.0) * 100.0,
                          copies_text(summary.value("copies", 0)).c_str());
            figures += (figures.empty() ? "" : "; ") + std::string(text);
        }
        std::string compiler = text_of(info, "compiler");
        if (compiler.empty()) {
            compiler = "build " + text_of(build, "build");
        } else {
            compiler += " " + text_of(info, "compiler_version") + " " + text_of(info, "flags");
        }
        line += (line.empty() ? "" : " | ") + (several ? id + ": " : "") + "pt " +
                (version.empty() ? "unknown" : version) + ": " + (figures.empty() ? "no figures" : figures) + ", " +
                compiler + (build.value("validated", false) ? "" : " (unvalidated)");
    }
    const Json machine = document.value("machine", Json::object());
    const std::string processor = text_of(machine, "processor");
    line += ", " + (processor.empty() ? std::string("unknown processor") : processor);
    if (!reportable_reasons(document).empty()) line += " (not reportable)";
    return line;
}

void add_verdict(Json& document) {
    for (Json& summary : document["summary"]) summary["validated"] = validated(document, text_of(summary, "build"));
    const std::vector<std::string> reasons = reportable_reasons(document);
    document["reportable"] = reasons.empty();
    document["reportable_reasons"] = reasons;
    document["citation"] = citation(document);
}

}  // namespace ptrun
