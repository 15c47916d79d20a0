#include "decide/history.h"

#include <algorithm>
#include <numeric>
#include <string_view>
#include <unordered_map>

#include "decide/comparisons.h"
#include "decide/rounds.h"
#include "decide/standing.h"

namespace ptrun {

namespace {

// The rounds of one call, host, build and copy count, as the document holds them.
struct FoundCall {
    const RoundFigure* first = nullptr;
    std::vector<double> rates;
    std::vector<ModuleFigures> module_ms;
};

// The id each build has in the call that ran it, by its id in the document.
std::unordered_map<std::string, std::string> recorded_builds(const Document& doc) {
    std::unordered_map<std::string, std::string> recorded;
    for (const CallRecord& call : doc.calls) {
        for (const auto& [in_call, here] : call.builds) recorded[call.call_id + '\n' + here] = in_call;
    }
    return recorded;
}

// In the order first met, so that a series' calls of equal start keep the file's order.
std::vector<FoundCall> calls_of(const Document& doc) {
    std::vector<FoundCall> found;
    std::unordered_map<std::string, std::size_t> index;
    for (const RoundFigure& round : doc.rounds) {
        if (round.warmup) continue;
        const std::string key = round.call.str() + '\n' + round.host.str() + '\n' + round.build.str() + '\n' +
                                std::to_string(round.copies);
        const auto [at, added] = index.try_emplace(key, found.size());
        if (added) found.push_back({&round, {}, {}});
        found[at->second].rates.push_back(round.rate);
        if (round.module_ms) found[at->second].module_ms.push_back(*round.module_ms);
    }
    return found;
}

// The description most of the calls [first, end) ran with (the first such
// where as many ran with another), for the differences at a change.
const SeriesCall& common_description(const std::vector<SeriesCall>& calls, std::size_t first, std::size_t end) {
    std::vector<std::pair<std::size_t, std::size_t>> counted;  // a call that stands for a description, its calls
    for (std::size_t c = first; c < end; ++c) {
        const SeriesCall& call = calls[c];
        auto same = std::find_if(counted.begin(), counted.end(), [&](const auto& k) {
            const SeriesCall& other = calls[k.first];
            return (other.build == call.build && other.host == call.host) ||
                   differences(*other.build, *other.host, *call.build, *call.host).empty();
        });
        if (same == counted.end()) same = counted.insert(counted.end(), {c, 0});
        ++same->second;
    }
    const auto most = std::max_element(counted.begin(), counted.end(),
                                       [](const auto& x, const auto& y) { return x.second < y.second; });
    return calls[most->first];
}

std::vector<Difference> differences_of(const SeriesCall& a, const SeriesCall& b) {
    return differences(*a.build, *a.host, *b.build, *b.host);
}

// What differs between the levels either side of the change at `first`,
// then what else differs between the calls either side of the split: the
// cause stays right when the split is a call off.
std::vector<Difference> change_differences(const Series& s, const Level& before, const Level& after) {
    std::vector<Difference> found = differences_of(common_description(s.calls, before.first_call, before.end_call),
                                                   common_description(s.calls, after.first_call, after.end_call));
    for (Difference& d : differences_of(s.calls[after.first_call - 1], s.calls[after.first_call])) {
        const bool listed = std::any_of(found.begin(), found.end(), [&](const Difference& f) {
            return f.what == d.what && f.a == d.a && f.b == d.b;
        });
        if (!listed) found.push_back(std::move(d));
    }
    return found;
}

// Each module's time per unit on the level's calls (each call's median over
// its profiled rounds, or every round, as the series' unit), outliers left out.
std::vector<std::vector<double>> module_values(const Series& s, const Level& level) {
    std::vector<std::vector<double>> values(kModuleCount);
    std::size_t outlier = 0;
    for (std::size_t c = level.first_call; c < level.end_call; ++c) {
        while (outlier < s.outliers.size() && s.outliers[outlier].call < c) ++outlier;
        if (outlier < s.outliers.size() && s.outliers[outlier].call == c) continue;
        const std::vector<ModuleFigures>& rounds = s.calls[c].module_ms;
        for (std::size_t m = 0; m < kModuleCount && !rounds.empty(); ++m) {
            std::vector<double> of_module;
            for (const ModuleFigures& r : rounds) {
                if (r[m] > 0) of_module.push_back(r[m]);
            }
            if (of_module.empty()) continue;
            if (s.unit == Unit::rounds) {
                values[m].insert(values[m].end(), of_module.begin(), of_module.end());
            } else {
                values[m].push_back(median_of(std::move(of_module)));
            }
        }
    }
    return values;
}

// The modules whose time the rank test shows moved across the change.
std::vector<ModuleShift> module_shifts(const Series& s, const Level& before, const Level& after) {
    const auto a = module_values(s, before), b = module_values(s, after);
    std::vector<ModuleShift> moved;
    for (std::size_t m = 0; m < kModuleCount; ++m) {
        if (a[m].empty() || b[m].empty()) continue;
        const SampleComparison figures = compare_samples(a[m], b[m]);
        if (figures.verdict == Verdict::slower || figures.verdict == Verdict::faster) moved.push_back({m, figures});
    }
    return moved;
}

bool same_series(const AcceptedChange& a, const Series& s) {
    return a.host == s.host && a.build == s.build && a.build_id == s.build_id && a.copies == s.copies;
}

// The series' accepted changes whose first call it holds, in the order of
// those calls; each shown at the change that starts the level holding it.
void place_accepted(Series& s, const std::vector<AcceptedChange>& accepted) {
    for (const AcceptedChange& a : accepted) {
        if (!same_series(a, s)) continue;
        const auto call = std::find_if(s.calls.begin(), s.calls.end(),
                                       [&](const SeriesCall& c) { return c.call_id == a.first_call; });
        if (call == s.calls.end()) continue;
        SeriesAcceptance placed{a, static_cast<std::size_t>(call - s.calls.begin()), std::nullopt};
        for (std::size_t i = 0; i < s.changes.size(); ++i) {
            if (s.changes[i].first_call <= placed.call) placed.at_change = i;
        }
        if (placed.at_change) s.changes[*placed.at_change].accepted = a;
        s.accepted.push_back(std::move(placed));
    }
    std::stable_sort(s.accepted.begin(), s.accepted.end(),
                     [](const SeriesAcceptance& x, const SeriesAcceptance& y) { return x.call < y.call; });
}

// The segmentation the series was described by, as the gate reads it.
Segmentation segmentation_of(const Series& s) {
    Segmentation found;
    found.levels = s.levels;
    for (const SeriesOutlier& o : s.outliers) found.outliers.push_back({o.call, o.ratio});
    found.unit = s.unit;
    found.call_spread = s.call_spread;
    found.round_spread = s.round_spread;
    return found;
}

// Places the accepted changes and, where asked, judges the newest level
// against the level of the newest of them, else against the first.
void judge_series(Series& s, const std::vector<AcceptedChange>& accepted, const HistorySettings& settings) {
    s.accepted.clear();
    for (SeriesChange& c : s.changes) c.accepted.reset();
    place_accepted(s, accepted);
    if (!settings.gate_percent) return;
    std::vector<CallRounds> rounds;
    rounds.reserve(s.calls.size());
    for (const SeriesCall& call : s.calls) rounds.push_back(call.rounds);
    std::optional<std::size_t> accepted_from;
    if (!s.accepted.empty()) accepted_from = s.accepted.back().call;
    s.gate = SeriesGate{*settings.gate_percent, settings.gate_strict,
                        gate_levels(rounds, segmentation_of(s), accepted_from, *settings.gate_percent,
                                    settings.gate_strict),
                        {}};
    const LevelGate& g = s.gate->decision;
    if (g.baseline != g.newest) s.gate->differences = change_differences(s, s.levels[g.baseline], s.levels[g.newest]);
}

// Orders the calls, finds the series' levels and what goes with them.
void describe_series(Series& s, const HistorySettings& settings) {
    // Calls that recorded no start come first, in the order read: their ids
    // are digests, which say nothing of when they ran.
    std::stable_sort(s.calls.begin(), s.calls.end(), [](const SeriesCall& x, const SeriesCall& y) {
        return std::make_pair(!x.started_utc.empty(), x.started_utc) <
               std::make_pair(!y.started_utc.empty(), y.started_utc);
    });
    std::vector<CallRounds> rounds;
    rounds.reserve(s.calls.size());
    for (const SeriesCall& call : s.calls) rounds.push_back(call.rounds);
    Segmentation found = segment_calls(rounds, settings.change_points);
    s.levels = found.levels;
    s.unit = found.unit;
    s.call_spread = found.call_spread;
    s.round_spread = found.round_spread;
    for (const OutlierCall& o : found.outliers) {
        std::size_t before = o.call;
        while (before > 0 && std::any_of(found.outliers.begin(), found.outliers.end(),
                                         [&](const OutlierCall& x) { return x.call == before; })) {
            --before;
        }
        s.outliers.push_back({o.call, o.ratio, before == o.call ? std::vector<Difference>{}
                                                               : differences_of(s.calls[before], s.calls[o.call])});
    }
    for (std::size_t i = 0; i < found.changes.size(); ++i) {
        const Level &before = s.levels[i], &after = s.levels[i + 1];
        s.changes.push_back({found.changes[i].first_call, found.changes[i], change_differences(s, before, after),
                             module_shifts(s, before, after), std::nullopt});
    }
    judge_series(s, settings.accepted, settings);
}

}  // namespace

std::string series_name(const Series& s) {
    return s.host + ", " + s.build + (s.build_id == "A" ? "" : " (" + s.build_id + ")") + ", " + copies_text(s.copies);
}

std::optional<AcceptedChange> change_to_accept(const std::vector<Series>& all, const std::string& series,
                                               const std::string& call, std::size_t& index, std::string& error) {
    const auto named = std::find_if(all.begin(), all.end(), [&](const Series& s) { return series_name(s) == series; });
    if (named == all.end()) {
        error = "no series \"" + series + "\" (name it as the history does: host, build, copies)";
        return std::nullopt;
    }
    const SeriesCall* exact = nullptr;
    std::vector<const SeriesCall*> starting;
    for (const SeriesCall& c : named->calls) {
        if (c.call_id == call) exact = &c;
        else if (!call.empty() && c.call_id.rfind(call, 0) == 0) starting.push_back(&c);
    }
    const SeriesCall* chosen = exact != nullptr ? exact : starting.size() == 1 ? starting.front() : nullptr;
    if (chosen == nullptr) {
        error = (starting.empty() ? "no call \"" : "more than one call begins \"") + call + "\" in " + series;
        return std::nullopt;
    }
    index = static_cast<std::size_t>(named - all.begin());
    AcceptedChange change;
    change.host = named->host;
    change.build = named->build;
    change.build_id = named->build_id;
    change.copies = named->copies;
    change.first_call = chosen->call_id;
    return change;
}

void accept_in(Series& series, const AcceptedChange& change, const HistorySettings& settings) {
    std::vector<AcceptedChange> accepted = settings.accepted;
    accepted.push_back(change);
    judge_series(series, accepted, settings);
}

void HistoryBuilder::add(const Document& doc, const std::string& file) {
    std::unordered_map<std::string_view, const Host*> hosts;
    std::unordered_map<std::string_view, const Build*> builds;
    for (const Host& host : doc.hosts) hosts.try_emplace(host.id, &host);
    for (const Build& build : doc.builds) builds.try_emplace(build.id, &build);
    std::unordered_map<std::string_view, const CallRecord*> calls;
    for (const CallRecord& call : doc.calls) calls.try_emplace(call.call_id, &call);
    const auto recorded = recorded_builds(doc);
    std::string_view kept_file;
    for (FoundCall& call : calls_of(doc)) {
        const RoundFigure& round = *call.first;
        const auto host = hosts.find(round.host.str());
        const auto build = builds.find(round.build.str());
        if (host == hosts.end() || build == builds.end()) continue;  // the reader refuses such a file
        const Host& h = *host->second;
        const Build& b = *build->second;
        const auto id = recorded.find(round.call.str() + '\n' + round.build.str());
        const std::string build_id = id == recorded.end() ? round.build.str() : id->second;
        Gathered& into = gathered_[{machine_key(h), b.path, build_id, round.copies}];
        if (into.calls.empty()) {
            into.series.host = host_name(h);
            into.series.build = b.path;
            into.series.build_id = build_id;
            into.series.copies = round.copies;
        }
        if (kept_file.empty()) kept_file = texts_.keep_text(file);
        const auto record = calls.find(round.call.str());
        Kept kept{texts_.keep_text(round.call.str()),
                  texts_.keep_text(record == calls.end() ? std::string_view() : record->second->started_utc),
                  kept_file,
                  rounds_.keep(call.rates),
                  nullptr,
                  nullptr,
                  std::move(call.module_ms)};
        // Most nights run on what the night before ran on: that description
        // is held once, so that memory grows with the changes, not the calls.
        if (!into.calls.empty() && differences(*into.calls.back().build, *into.calls.back().host, b, h).empty()) {
            kept.build = into.calls.back().build;
            kept.host = into.calls.back().host;
        } else {
            kept.build = std::make_shared<const Build>(b);
            kept.host = std::make_shared<const Host>(h);
        }
        into.calls.push_back(std::move(kept));
    }
}

// The calls in the order added, each once: a call added again is counted.
std::vector<SeriesCall> HistoryBuilder::calls_once(std::vector<Kept>& kept) {
    std::vector<std::size_t> by_id(kept.size());
    std::iota(by_id.begin(), by_id.end(), std::size_t{0});
    std::stable_sort(by_id.begin(), by_id.end(),
                     [&](std::size_t x, std::size_t y) { return kept[x].call_id < kept[y].call_id; });
    std::vector<bool> again(kept.size());
    for (std::size_t i = 1; i < by_id.size(); ++i) {
        if (kept[by_id[i]].call_id == kept[by_id[i - 1]].call_id) again[by_id[i]] = true;
    }
    std::vector<SeriesCall> calls;
    calls.reserve(kept.size());
    for (std::size_t c = 0; c < kept.size(); ++c) {
        if (again[c]) {
            ++duplicates_;
            continue;
        }
        Kept& k = kept[c];
        std::vector<double> rounds(k.rounds.begin(), k.rounds.end());
        const double median = median_of(rounds);
        calls.push_back({std::string(k.call_id), std::string(k.started_utc), std::string(k.file), std::move(rounds),
                         median, std::move(k.build), std::move(k.host), std::move(k.module_ms)});
    }
    return calls;
}

std::vector<Series> HistoryBuilder::finish(const HistorySettings& settings) {
    std::vector<Series> all;
    all.reserve(gathered_.size());
    std::map<std::string, std::vector<std::string>> machines_named;  // a name, the machines that have it
    for (auto& [key, gathered] : gathered_) {
        Series series = std::move(gathered.series);
        series.calls = calls_once(gathered.calls);
        gathered.calls = {};
        auto& machines = machines_named[series.host];
        const std::string& machine = std::get<0>(key);
        auto at = std::find(machines.begin(), machines.end(), machine);
        if (at == machines.end()) at = machines.insert(machines.end(), machine);
        if (at != machines.begin()) series.host += " [" + std::to_string(at - machines.begin() + 1) + "]";
        describe_series(series, settings);
        all.push_back(std::move(series));
    }
    gathered_.clear();
    texts_ = {};
    rounds_ = {};
    return all;
}

}  // namespace ptrun
