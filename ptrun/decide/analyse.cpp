#include "decide/analyse.h"

#include <algorithm>
#include <set>
#include <tuple>
#include <unordered_map>

#include "decide/comparisons.h"
#include "decide/reportability.h"
#include "decide/rounds.h"
#include "decide/standing.h"

namespace ptrun {

namespace {

void sort_summary(Document& doc) {
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
}

std::string series_key(const std::string& host, const std::string& build) { return host + '\n' + build; }

// Each call's comparison of its builds with its first. One pass over the
// rounds, so that a fleet of many calls costs no more than its rounds.
void call_comparisons(Document& doc) {
    if (doc.builds.size() < 2) return;  // no call ran two builds
    std::unordered_map<std::string, std::set<std::string>> ran;
    std::unordered_map<std::string, std::vector<const RoundFigure*>> rounds;
    for (const RoundFigure& round : doc.rounds) {
        ran[round.call].insert(round.build);
        rounds[round.call].push_back(&round);
    }
    for (const CallRecord& call : doc.calls) {
        const auto it = ran.find(call.call_id);
        if (it == ran.end() || it->second.size() < 2) continue;
        const std::vector<const RoundFigure*>* own = &rounds[call.call_id];
        std::vector<std::string> builds;
        for (const Build& build : doc.builds) {
            if (it->second.count(build.id)) builds.push_back(build.id);
        }
        for (std::size_t i = 1; i < builds.size(); ++i) {
            for (ComparisonEntry& entry : compare_sides({&doc, call.host, builds[0], call.call_id, own},
                                                        {&doc, call.host, builds[i], call.call_id, own})) {
                doc.comparisons.push_back(std::move(entry));
            }
        }
    }
}

bool same_sides(const ComparisonEntry& x, const ComparisonEntry& y) {
    return x.host == y.host && x.a == y.a && x.b_host == y.b_host && x.b == y.b && x.copies == y.copies;
}

// Every series (host and build) of a copy count against the first of that
// count, over the rounds of every call: what a report of a fleet puts side
// by side. Where the document is one call, its own comparisons are these.
void fleet_comparisons(Document& doc) {
    std::set<int> counts;
    const bool any = std::any_of(doc.summary.begin(), doc.summary.end(),
                                 [&counts](const SummaryFigure& s) { return !counts.insert(s.copies).second; });
    if (!any) return;  // one series per copy count: nothing to put side by side
    std::unordered_map<std::string, std::vector<const RoundFigure*>> rounds;
    std::unordered_map<std::string, std::set<std::string>> calls;  // per series, the calls its rounds are of
    for (const RoundFigure& round : doc.rounds) {
        rounds[series_key(round.host, round.build)].push_back(&round);
        calls[series_key(round.host, round.build)].insert(round.call);
    }
    const std::vector<ComparisonEntry> own = doc.comparisons;
    std::unordered_map<int, const SummaryFigure*> first;
    for (const SummaryFigure& s : doc.summary) {
        const auto [at, added] = first.try_emplace(s.copies, &s);
        if (added) continue;
        const SummaryFigure& a = *at->second;
        std::vector<const RoundFigure*> both = rounds[series_key(a.host, a.build)];
        const std::vector<const RoundFigure*>& of_b = rounds[series_key(s.host, s.build)];
        both.insert(both.end(), of_b.begin(), of_b.end());
        // Both series the rounds of one call: that call's own comparison is this one.
        const std::set<std::string>& of_a = calls[series_key(a.host, a.build)];
        const bool one_call = of_a.size() == 1 && of_a == calls[series_key(s.host, s.build)];
        for (ComparisonEntry& entry : compare_sides({&doc, a.host, a.build, "", &both, s.copies},
                                                    {&doc, s.host, s.build, "", &both, s.copies})) {
            const bool held = one_call && std::any_of(own.begin(), own.end(), [&](const ComparisonEntry& e) {
                return same_sides(e, entry);
            });
            if (!held) doc.comparisons.push_back(std::move(entry));
        }
    }
}

}  // namespace

void analyse(Document& doc, const Figures& wanted) {
    // Straight from the runs: a copy of them, even of the few fields the figures need, would cost their size again.
    doc.rounds = rounds_of(doc.runs);
    doc.summary.clear();
    doc.comparisons.clear();
    doc.standings.clear();
    doc.reportable_reasons.clear();
    doc.citation.reset();
    doc.flagged_runs = static_cast<int>(std::count_if(doc.runs.begin(), doc.runs.end(), [](const RunRecord& r) {
        return r.flagged;
    }));
    if (!(wanted.summary || wanted.comparisons || wanted.standings || wanted.reportability)) return;
    doc.summary = summarise(doc.runs, doc.rounds);
    sort_summary(doc);
    if (wanted.comparisons) {
        call_comparisons(doc);
        fleet_comparisons(doc);
    }
    if (wanted.standings) add_standings(doc);
    if (!wanted.reportability) return;
    doc.reportable_reasons = reportable_reasons(doc);
    doc.citation = citation(doc);
}

const ComparisonEntry* against_first(const Document& doc, const std::string& b_host, const std::string& b,
                                     int copies) {
    const auto first = std::find_if(doc.summary.begin(), doc.summary.end(), [copies](const SummaryFigure& s) {
        return s.copies == copies;
    });
    if (first == doc.summary.end()) return nullptr;
    // A call's own comparison stands for the fleet's where the two are one (see fleet_comparisons).
    const ComparisonEntry* found = nullptr;
    for (const ComparisonEntry& e : doc.comparisons) {
        if (e.host != first->host || e.a != first->build || e.b_host != b_host || e.b != b || e.copies != copies) {
            continue;
        }
        if (e.call_id.empty()) return &e;
        if (found == nullptr) found = &e;
    }
    return found;
}

}  // namespace ptrun
