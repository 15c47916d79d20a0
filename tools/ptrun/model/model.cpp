#include "model/model.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <tuple>
#include <unordered_map>

#include "decide/standing.h"
#include "model/reportability.h"

namespace ptrun {

std::vector<RunFigure> run_figures(const Document& doc) {
    std::vector<RunFigure> figures;
    figures.reserve(doc.runs.size());
    for (const RunRecord& run : doc.runs) {
        figures.push_back({run.call_id, run.host, run.build, run.copies, run.round, run.copy, run.warmup, run.flagged,
                           run.score});
    }
    return figures;
}

std::string hex_digest(const std::string& text) {
    std::uint64_t hash = 14695981039346656037ull;
    for (const unsigned char c : text) hash = (hash ^ c) * 1099511628211ull;
    char out[17];
    std::snprintf(out, sizeof out, "%016llx", static_cast<unsigned long long>(hash));
    return out;
}

CallRecord call_record(const Document& doc) {
    CallRecord call;
    call.call_id = doc.call_id;
    call.host = call.recorded_host = doc.hosts.empty() ? "" : doc.hosts.front().id;
    for (const Build& build : doc.builds) call.builds[build.id] = build.id;
    call.started_utc = doc.started_utc;
    call.ended_utc = doc.ended_utc;
    call.outcome = doc.outcome;
    call.no_results_reason = doc.no_results_reason;
    call.command_line = doc.command_line;
    call.ptrun_version = doc.ptrun_version;
    call.settings = doc.settings;
    call.stopped_because = doc.stopped_because;
    call.upgraded_from = doc.upgraded_from;
    return call;
}

void compute_figures(Document& doc) {
    const std::vector<RunFigure> runs = run_figures(doc);
    doc.rounds = rounds_of(runs);
    doc.summary = summarise(runs, doc.rounds);
    std::unordered_map<std::string, std::size_t> host_at, build_at;
    for (std::size_t i = 0; i < doc.hosts.size(); ++i) host_at.emplace(doc.hosts[i].id, i);
    for (std::size_t i = 0; i < doc.builds.size(); ++i) build_at.emplace(doc.builds[i].id, i);
    auto place = [](const std::unordered_map<std::string, std::size_t>& at, const std::string& id) {
        const auto it = at.find(id);
        return it == at.end() ? at.size() : it->second;
    };
    std::stable_sort(doc.summary.begin(), doc.summary.end(), [&](const SummaryFigure& x, const SummaryFigure& y) {
        const auto kx = std::make_tuple(place(host_at, x.host), place(build_at, x.build), x.copies);
        const auto ky = std::make_tuple(place(host_at, y.host), place(build_at, y.build), y.copies);
        return kx < ky;
    });
    doc.flagged_runs = static_cast<int>(std::count_if(runs.begin(), runs.end(), [](const RunFigure& r) {
        return r.flagged;
    }));
    add_standings(doc);
    doc.reportable_reasons = reportable_reasons(doc);
    doc.citation = citation(doc);
}

}  // namespace ptrun
