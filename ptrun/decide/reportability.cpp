#include "decide/reportability.h"

#include <cstdio>
#include <set>
#include <utility>

namespace ptrun {

namespace {

std::string counted(long long n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

bool environment_recorded(const Document& doc) {
    for (const Host& host : doc.hosts) {
        if (host.machine && !host.environment_recorded) return false;
    }
    for (const RunRecord& run : doc.runs) {
        if (!run.warmup && (!run.environment_before || !run.environment_after)) return false;
    }
    return true;
}

void call_reasons(const Document& doc, std::vector<std::string>& reasons) {
    for (const CallRecord& call : doc.calls) {
        if (call.outcome == kNoResults) {
            reasons.push_back("host " + call.host + ": no results (" + call.no_results_reason.value_or("") + ")");
        } else if (call.outcome != "completed") {
            reasons.push_back((doc.calls.size() > 1 ? "call " + call.call_id : std::string("the call")) +
                              " did not complete (" + call.outcome + ")");
        }
    }
}

// A copy count a call was asked for that has no rounds outside warm-up (a
// time limit reached first, or every copy failed) would otherwise leave the
// figures silently incomplete.
void missing_copies_reasons(const Document& doc, std::vector<std::string>& reasons) {
    std::set<std::pair<std::string, int>> summarised;
    for (const SummaryFigure& s : doc.summary) summarised.emplace(s.host, s.copies);
    for (const CallRecord& call : doc.calls) {
        if (call.outcome == kNoResults || !call.settings) continue;
        for (int copies : call.settings->copies) {
            if (!summarised.contains({call.host, copies})) {
                reasons.push_back((doc.hosts.size() > 1 ? "host " + call.host + ", " : std::string()) +
                                  std::to_string(copies) + (copies == 1 ? " copy" : " copies") +
                                  ": no rounds outside warm-up");
            }
        }
    }
}

}  // namespace

std::vector<std::string> reportable_reasons(const Document& doc) {
    std::vector<std::string> reasons;
    call_reasons(doc, reasons);
    if (doc.summary.empty()) reasons.push_back("no figures");
    missing_copies_reasons(doc, reasons);
    const bool several_builds = doc.builds.size() > 1, several_hosts = doc.hosts.size() > 1;
    int flagged = 0;
    for (const SummaryFigure& s : doc.summary) {
        if (static_cast<int>(s.rounds) < kMinReportableRounds) {
            reasons.push_back((several_hosts ? "host " + s.host + ", " : "") +
                              (several_builds ? "build " + s.build + ", " : "") + copies_text(s.copies) + ": " +
                              counted(static_cast<long long>(s.rounds), "round", "rounds") + ", fewer than " +
                              std::to_string(kMinReportableRounds));
        }
        flagged += s.flagged;
    }
    if (flagged > 0) reasons.push_back(counted(flagged, "run", "runs") + " flagged: the machine was not quiet");
    for (const Build& build : doc.builds) {
        if (build.validated) continue;
        reasons.push_back("build " + build.id + " not validated" +
                          (build.validation.empty() ? "" : ": " + build.validation));
    }
    if (doc.builds.empty()) reasons.push_back("no build described");
    for (const Host& host : doc.hosts) {
        if (host.machine && !host.machine->emulator.empty()) {
            reasons.push_back("measured under an emulator (" + host.machine->emulator +
                              "): the scores say nothing of this machine");
        }
    }
    if (!environment_recorded(doc)) reasons.push_back("the environment was not recorded for every run");
    return reasons;
}

std::optional<std::string> citation(const Document& doc) {
    if (doc.hosts.size() != 1) return std::nullopt;
    std::string line;
    const bool several = doc.builds.size() > 1;
    for (const Build& build : doc.builds) {
        std::string figures;
        for (const SummaryFigure& s : doc.summary) {
            if (s.build != build.id) continue;
            char text[480];  // a median near the largest double has 309 digits before the point
            std::snprintf(text, sizeof text, "%.1f work units/s (median of %zu, CV %.1f %%), %s", s.median, s.rounds,
                          s.cv * 100.0, copies_text(s.copies).c_str());
            figures += (figures.empty() ? "" : "; ") + std::string(text);
        }
        const BuildInfo& info = build.info;
        const std::string compiler = info.compiler.empty()
                                         ? "build " + build.line
                                         : info.compiler + " " + info.compiler_version + " " + info.flags;
        line += (line.empty() ? "" : " | ") + (several ? build.id + ": " : "") + "pt " +
                (info.version.empty() ? "unknown" : info.version) + ": " + (figures.empty() ? "no figures" : figures) +
                ", " + compiler + (build.validated ? "" : " (unvalidated)");
    }
    const Host& host = doc.hosts.front();
    const std::string processor = host.machine ? host.machine->processor : "";
    line += ", " + (processor.empty() ? std::string("unknown processor") : processor);
    if (!doc.reportable_reasons.empty()) line += " (not reportable)";
    return line;
}

}  // namespace ptrun
