#include "model/model.h"

#include <algorithm>
#include <unordered_map>

#include "verdict.h"

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
