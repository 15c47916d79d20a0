#include "decide/history.h"

#include <algorithm>
#include <unordered_map>

#include "decide/comparisons.h"
#include "decide/rounds.h"

namespace ptrun {

namespace {

// The rounds of one call, host, build and copy count, as the document holds them.
struct FoundCall {
    const RoundFigure* first = nullptr;
    std::vector<double> rates;
};

}  // namespace

void HistoryBuilder::add(const Document& doc, const std::string& file) {
    std::unordered_map<std::string, std::shared_ptr<const Host>> hosts;
    std::unordered_map<std::string, std::shared_ptr<const Build>> builds;
    for (const Host& host : doc.hosts) hosts[host.id] = std::make_shared<const Host>(host);
    for (const Build& build : doc.builds) builds[build.id] = std::make_shared<const Build>(build);
    std::unordered_map<std::string, const CallRecord*> calls;
    for (const CallRecord& call : doc.calls) calls[call.call_id] = &call;
    // In the order first met, so that a series' calls of equal start keep the file's order.
    std::vector<FoundCall> found;
    std::unordered_map<std::string, std::size_t> index;
    for (const RoundFigure& round : doc.rounds) {
        if (round.warmup) continue;
        const std::string key = round.call.str() + '\n' + round.host.str() + '\n' + round.build.str() + '\n' +
                                std::to_string(round.copies);
        const auto [at, added] = index.try_emplace(key, found.size());
        if (added) found.push_back({&round, {}});
        found[at->second].rates.push_back(round.rate);
    }
    for (const FoundCall& call : found) {
        const RoundFigure& round = *call.first;
        const auto host = hosts.find(round.host);
        const auto build = builds.find(round.build);
        if (host == hosts.end() || build == builds.end()) continue;  // the reader refuses such a file
        const std::string host_name = host->second->label.value_or(host->second->hostname);
        Gathered& into = gathered_[{host_name, build->second->path, round.copies}];
        if (!into.call_ids.insert(round.call).second) {
            ++duplicates_;
            continue;
        }
        const auto record = calls.find(round.call);
        SeriesCall point{round.call, record == calls.end() ? "" : record->second->started_utc, file, call.rates,
                         median_of(call.rates), build->second, host->second};
        // Most nights run on what the night before ran on: that description
        // is held once, so that memory grows with the changes, not the calls.
        if (!into.series.calls.empty()) {
            const SeriesCall& last = into.series.calls.back();
            if (differences(*last.build, *last.host, *point.build, *point.host).empty()) {
                point.build = last.build;
                point.host = last.host;
            }
        }
        into.series.calls.push_back(std::move(point));
    }
}

std::vector<Series> HistoryBuilder::finish(const ChangePointSettings& settings) {
    std::vector<Series> all;
    all.reserve(gathered_.size());
    for (auto& [key, gathered] : gathered_) {
        Series series = std::move(gathered.series);
        std::tie(series.host, series.build, series.copies) = key;
        std::stable_sort(series.calls.begin(), series.calls.end(), [](const SeriesCall& x, const SeriesCall& y) {
            return std::tie(x.started_utc, x.call_id) < std::tie(y.started_utc, y.call_id);
        });
        std::vector<ptrun::CallRounds> rounds;
        rounds.reserve(series.calls.size());
        for (const SeriesCall& call : series.calls) rounds.push_back(call.rounds);
        for (ChangePoint& point : find_change_points(rounds, settings)) {
            const SeriesCall& before = series.calls[point.first_call - 1];
            const SeriesCall& after = series.calls[point.first_call];
            series.changes.push_back(
                {point.first_call, point, differences(*before.build, *before.host, *after.build, *after.host)});
        }
        all.push_back(std::move(series));
    }
    gathered_.clear();
    return all;
}

}  // namespace ptrun
