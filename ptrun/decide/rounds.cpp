#include "decide/rounds.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <map>
#include <string_view>
#include <tuple>
#include <unordered_map>

namespace ptrun {

double median_of(std::vector<double> values) {
    if (values.empty()) return 0;
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    if (values.size() % 2 == 1) return *middle;
    // Halfway without the sum, which overflows for scores near the largest double.
    const double below = *std::max_element(values.begin(), middle);
    return below + (*middle - below) / 2;
}

double cv_of(const std::vector<double>& values) {
    const std::size_t n = values.size();
    if (n < 2) return 0;
    // The spread over the mean does not change with the scale: worked on the
    // values over the largest, whose sums cannot overflow.
    double largest = 0;
    for (double value : values) largest = std::max(largest, std::fabs(value));
    if (largest == 0 || !std::isfinite(largest)) return 0;
    double mean = 0;
    for (double value : values) mean += value / largest;
    mean /= static_cast<double>(n);
    double squares = 0;
    for (double value : values) squares += (value / largest - mean) * (value / largest - mean);
    return mean != 0 ? std::sqrt(squares / static_cast<double>(n - 1)) / mean : 0;
}

namespace {

// Numbers for the few (call, host, build) a document's many runs repeat, so
// that a round's key is a few integers: views of the runs' own texts, which
// outlive it, the last kept, as runs come in rounds. Each number's texts are
// kept once more, shared, for the rounds of that series to hold.
class CallHostBuild {
public:
    std::uint32_t operator()(const std::string& call, const std::string& host, const std::string& build) {
        const Key key{call, host, build};
        if (ids_.empty() || key != last_) {
            last_ = key;
            const auto [it, added] = ids_.try_emplace(key, static_cast<std::uint32_t>(ids_.size()));
            if (added) texts_.push_back({SharedText(call), SharedText(host), SharedText(build)});
            last_id_ = it->second;
        }
        return last_id_;
    }
    const std::array<SharedText, 3>& texts(std::uint32_t id) const { return texts_[id]; }

private:
    using Key = std::tuple<std::string_view, std::string_view, std::string_view>;
    std::map<Key, std::uint32_t> ids_;
    std::vector<std::array<SharedText, 3>> texts_;
    Key last_;
    std::uint32_t last_id_ = 0;
};

const std::string& call_of(const RunRecord& run) { return run.call_id; }

std::optional<ModuleFigures> module_ms_of(const RunRecord& run) {
    return run.module_ms ? std::optional<ModuleFigures>(*run.module_ms) : std::nullopt;
}

// One event of every module (0 instructions, 1 cycles), where the run counted it for all six.
std::optional<ModuleFigures> event_of(const RunRecord& run, std::size_t event) {
    if (!run.module_counters) return std::nullopt;
    ModuleFigures counts{};
    for (std::size_t m = 0; m < kModuleCount; ++m) {
        const std::optional<double>& count = (*run.module_counters)[m][event];
        if (!count) return std::nullopt;
        counts[m] = *count;
    }
    return counts;
}

// A round's module figure: the sum of its copies' while it has each one's.
struct ModuleSum {
    int copies = 0;
    ModuleFigures sum{};
    void add(const std::optional<ModuleFigures>& figures) {
        if (!figures) return;
        ++copies;
        for (std::size_t m = 0; m < kModuleCount; ++m) sum[m] += (*figures)[m];
    }
    // None where a copy lacks them, or where the sum of figures the reader
    // took as finite is not: such a round stays out of the module figures.
    std::optional<ModuleFigures> mean(int of) const {
        if (copies != of) return std::nullopt;
        ModuleFigures mean = sum;
        for (double& figure : mean) {
            if (!std::isfinite(figure)) return std::nullopt;
            figure /= of;
        }
        return mean;
    }
};

struct ModuleSums {
    ModuleSum ms, instructions, cycles;
};

// The rounds of the runs, in the order of each round's first run: the runs
// sorted by round (a round's own in their order, which is the order their
// scores are added in), so that time is n log n and memory a few integers a
// run, gone before the rounds are made.
template <typename Run>
std::vector<RoundFigure> rounds_from(const std::vector<Run>& runs) {
    struct Place {
        std::uint32_t series;  // call, host and build
        int copies, round;
        std::uint32_t at;  // the run
        bool same_round(const Place& o) const { return series == o.series && copies == o.copies && round == o.round; }
    };
    CallHostBuild series;
    std::vector<std::uint32_t> series_of(runs.size());
    std::vector<Place> places;
    places.reserve(runs.size());
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const Run& run = runs[i];
        series_of[i] = series(call_of(run), run.host, run.build);
        places.push_back({series_of[i], run.copies, run.round, static_cast<std::uint32_t>(i)});
    }
    std::sort(places.begin(), places.end(), [](const Place& x, const Place& y) {
        return std::tie(x.series, x.copies, x.round, x.at) < std::tie(y.series, y.copies, y.round, y.at);
    });
    // By the first run of each complete round: its rate and whether a run of it was flagged.
    std::vector<double> rate(runs.size());
    std::vector<bool> first(runs.size()), flagged(runs.size());
    std::size_t complete = 0;
    // Only rounds whose runs were profiled have module figures: kept apart, so
    // that a file of unprofiled runs spends nothing on them.
    std::unordered_map<std::uint32_t, ModuleSums> modules;
    for (std::size_t begin = 0, end = 0; begin < places.size(); begin = end) {
        const std::uint32_t at = places[begin].at;
        double sum = 0;
        bool any_flagged = false;
        int scored = 0;
        for (end = begin; end < places.size() && places[end].same_round(places[begin]); ++end) {
            const Run& run = runs[places[end].at];
            any_flagged = any_flagged || run.flagged;
            if (run.score) {
                sum += *run.score;
                ++scored;
                if (module_ms_of(run)) {
                    ModuleSums& sums = modules[at];
                    sums.ms.add(module_ms_of(run));
                    sums.instructions.add(event_of(run, 0));
                    sums.cycles.add(event_of(run, 1));
                }
            }
        }
        if (scored != places[begin].copies) {
            modules.erase(at);
            continue;
        }
        first[at] = true;
        rate[at] = sum;
        flagged[at] = any_flagged;
        ++complete;
    }
    places = {};
    std::vector<RoundFigure> rounds;
    rounds.reserve(complete);
    for (std::size_t i = 0; i < runs.size(); ++i) {
        if (!first[i]) continue;
        const Run& run = runs[i];
        const std::array<SharedText, 3>& text = series.texts(series_of[i]);
        rounds.push_back({text[0], text[1], text[2], run.copies, run.round, run.warmup, flagged[i], rate[i]});
        const auto profiled = modules.find(static_cast<std::uint32_t>(i));
        if (profiled == modules.end()) continue;
        RoundFigure& round = rounds.back();
        round.module_ms = profiled->second.ms.mean(round.copies);
        round.instructions = profiled->second.instructions.mean(round.copies);
        round.cycles = profiled->second.cycles.mean(round.copies);
    }
    return rounds;
}

// A summary's series (host, build, copy count) as views of a round's or run's texts.
using SummaryOf = std::tuple<std::string_view, std::string_view, int>;

}  // namespace

std::vector<RoundFigure> rounds_of(const std::vector<RunRecord>& runs) { return rounds_from(runs); }

std::vector<SummaryFigure> summarise(const std::vector<RunRecord>& runs, const std::vector<RoundFigure>& rounds) {
    std::vector<SummaryFigure> summaries;
    std::vector<std::vector<double>> rates;
    std::vector<std::array<std::vector<double>, kModuleCount>> module_ms;
    std::map<SummaryOf, std::size_t> index;
    const RoundFigure* last = nullptr;  // rounds of a series mostly follow each other
    std::size_t at = 0;
    for (const RoundFigure& round : rounds) {
        if (round.warmup) continue;
        if (last == nullptr || round.host != last->host || round.build != last->build || round.copies != last->copies) {
            const SummaryOf of{round.host, round.build, round.copies};
            const auto [it, added] = index.try_emplace(of, summaries.size());
            if (added) {
                SummaryFigure summary;
                summary.host = round.host;
                summary.build = round.build;
                summary.copies = round.copies;
                summaries.push_back(summary);
                rates.emplace_back();
                module_ms.emplace_back();
            }
            at = it->second;
            last = &round;
        }
        rates[at].push_back(round.rate);
        for (std::size_t m = 0; round.module_ms && m < kModuleCount; ++m) {
            module_ms[at][m].push_back((*round.module_ms)[m]);
        }
    }
    for (std::size_t i = 0; i < summaries.size(); ++i) {
        SummaryFigure& summary = summaries[i];
        summary.rounds = rates[i].size();
        summary.min = *std::min_element(rates[i].begin(), rates[i].end());
        summary.max = *std::max_element(rates[i].begin(), rates[i].end());
        summary.cv = cv_of(rates[i]);
        summary.median = median_of(std::move(rates[i]));
        if (module_ms[i][0].empty()) continue;
        summary.module_ms.emplace();
        for (std::size_t m = 0; m < kModuleCount; ++m) (*summary.module_ms)[m] = median_of(std::move(module_ms[i][m]));
    }
    for (const RunRecord& run : runs) {
        if (run.warmup || !run.flagged) continue;
        const auto it = index.find(SummaryOf{run.host, run.build, run.copies});
        if (it != index.end()) ++summaries[it->second].flagged;
    }
    for (SummaryFigure& summary : summaries) {
        const auto single = index.find(SummaryOf{summary.host, summary.build, 1});
        if (summary.copies > 1 && single != index.end() && summaries[single->second].median > 0) {
            const double efficiency = summary.median / summaries[single->second].median / summary.copies;
            if (std::isfinite(efficiency)) summary.efficiency = efficiency;
        }
    }
    return summaries;
}

}  // namespace ptrun
