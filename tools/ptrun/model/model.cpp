#include "model/model.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <tuple>
#include <unordered_map>

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

void Digest::add(const std::string& text) {
    for (const unsigned char c : text) hash_ = (hash_ ^ c) * 1099511628211ull;
}

std::string Digest::hex() const {
    char out[17];
    std::snprintf(out, sizeof out, "%016llx", static_cast<unsigned long long>(hash_));
    return out;
}

std::string hex_digest(const std::string& text) {
    Digest digest;
    digest.add(text);
    return digest.hex();
}

CallRecord whole_call(const Document& doc) {
    if (doc.calls.size() == 1) return doc.calls.front();
    CallRecord whole;
    std::vector<std::string> ids;
    whole.outcome = "completed";
    for (const CallRecord& call : doc.calls) {
        ids.push_back(call.call_id);
        if (call.outcome == "failed" || call.outcome == kNoResults) whole.outcome = "failed";
        if (call.outcome == "interrupted" && whole.outcome == "completed") whole.outcome = "interrupted";
        if (!call.started_utc.empty() && (whole.started_utc.empty() || call.started_utc < whole.started_utc)) {
            whole.started_utc = call.started_utc;
        }
        whole.ended_utc = std::max(whole.ended_utc, call.ended_utc);
    }
    std::sort(ids.begin(), ids.end());
    std::string joined;
    for (const std::string& id : ids) joined += id + '\n';
    whole.call_id = hex_digest(joined);
    if (!doc.calls.empty()) {
        whole.ptrun_version = doc.calls.front().ptrun_version;
        whole.command_line = doc.calls.front().command_line;
        whole.settings = doc.calls.front().settings;
    }
    whole.stopped_because = "merged";
    return whole;
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
    doc.reportable_reasons = reportable_reasons(doc);
    doc.citation = citation(doc);
}

}  // namespace ptrun
