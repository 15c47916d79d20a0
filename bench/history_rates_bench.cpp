// How well `ptrun history` finds changes and how its gate behaves, by
// simulation: series of calls of 3 rounds, rounds spread 2 % (normal), half
// of it each call's own (rounds of one call share its conditions) unless an
// argument says otherwise, seeded, so that the rates the manual quotes come
// back on every run with the same standard library. The rates are the
// counters; the time is the simulation's.
//   pt_bench --benchmark_filter=HistoryRates
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <random>
#include <vector>

#include "ptrun/decide/changepoint.h"
#include "ptrun/decide/level_gate.h"
#include "ptrun/decide/rounds.h"
#include "ptrun/decide/standing.h"

namespace {

constexpr int kRounds = 3;
constexpr double kSpread = 0.02, kGatePercent = 3;
// A change point this close to a step is the step found.
constexpr int kNear = 5;

// A series: levels that change at given calls, and calls off by a factor.
struct Shape {
    int calls = 100;
    std::vector<std::pair<int, double>> steps;  // first call of the new level, its factor
    std::vector<std::pair<int, double>> odd;    // a call, its factor
    double call_share = 0.5;                    // of the spread's variance
};

std::vector<ptrun::CallRounds> simulate(std::mt19937_64& random, const Shape& shape) {
    std::normal_distribution<double> unit(0, 1);
    const double call_sd = kSpread * std::sqrt(shape.call_share), round_sd = kSpread * std::sqrt(1 - shape.call_share);
    std::vector<ptrun::CallRounds> calls(static_cast<std::size_t>(shape.calls));
    for (std::size_t c = 0; c < calls.size(); ++c) {
        double centre = 1000 * (1 + call_sd * unit(random));
        for (const auto& [at, factor] : shape.steps) centre *= static_cast<int>(c) >= at ? factor : 1;
        for (const auto& [at, factor] : shape.odd) centre *= static_cast<int>(c) == at ? factor : 1;
        for (int r = 0; r < kRounds; ++r) calls[c].push_back(centre * (1 + round_sd * unit(random)));
    }
    return calls;
}

// n calls among [0, calls), each 10 to 30 % low; with `apart`, no two side by side.
std::vector<std::pair<int, double>> odd_calls(std::mt19937_64& random, int n, int calls, bool apart) {
    std::vector<std::pair<int, double>> odd;
    std::uniform_real_distribution<double> low(0.10, 0.30);
    while (static_cast<int>(odd.size()) < n) {
        const int at = static_cast<int>(random() % static_cast<std::uint64_t>(calls));
        const auto near = [&](const auto& o) { return std::abs(o.first - at) <= (apart ? 1 : 0); };
        if (std::none_of(odd.begin(), odd.end(), near)) {
            odd.emplace_back(at, 1 - low(random));
        }
    }
    return odd;
}

ptrun::ChangePointSettings settings() {
    ptrun::ChangePointSettings s;
    s.permutations = 0;  // the search p is shown, never decided on
    return s;
}

double percent(double part, double whole) { return whole > 0 ? 100 * part / whole : 0; }

// Change points where there is none, per 100 calls, in series of 100 calls,
// with range(0) calls 10-30 % low (apart), and how many of those are listed
// as outlier calls; range(1): the share (percent) of the spread that is the
// calls' own.
void BM_HistoryRatesNoChange(benchmark::State& state) {
    const int odd = static_cast<int>(state.range(0)), series = 1000;
    double changes = 0, listed = 0, others = 0;
    for (auto _ : state) {
        std::mt19937_64 random(101);
        changes = listed = others = 0;
        for (int s = 0; s < series; ++s) {
            Shape shape;
            shape.call_share = static_cast<double>(state.range(1)) / 100;
            shape.odd = odd_calls(random, odd, shape.calls, true);
            const ptrun::Segmentation seg = ptrun::segment_calls(simulate(random, shape), settings());
            changes += static_cast<double>(seg.changes.size());
            for (const ptrun::OutlierCall& o : seg.outliers) {
                const bool real = std::any_of(shape.odd.begin(), shape.odd.end(),
                                              [&](const auto& x) { return x.first == static_cast<int>(o.call); });
                (real ? listed : others) += 1;
            }
        }
    }
    state.counters["false_changes_per_100_calls"] = changes / series;
    state.counters["odd_calls_listed_pct"] = percent(listed, odd * series);
    state.counters["other_outlier_calls_per_100_calls"] = others / series;
}
BENCHMARK(BM_HistoryRatesNoChange)
    ->ArgNames({"odd_calls", "call_share_pct"})
    ->Args({0, 50})->Args({3, 50})->Args({0, 0})
    ->Unit(benchmark::kMillisecond)->Iterations(1);

// A step of range(0) tenths of a percent down in series of 100 calls, with
// range(1) calls before it (50: in the middle, 97: 3 from the end); range(2):
// the calls' own share of the spread. Found: a change within kNear calls of
// it; precision: the share of change points that are; covered: the found
// changes whose interval holds the true ratio, against the confidence stated.
void BM_HistoryRatesStep(benchmark::State& state) {
    const double step = 1 - static_cast<double>(state.range(0)) / 1000;
    const int at = static_cast<int>(state.range(1)), series = 1000;
    double found = 0, within_2 = 0, exact = 0, all = 0, near = 0, covered = 0, confidence = 0;
    for (auto _ : state) {
        std::mt19937_64 random(202);
        found = within_2 = exact = all = near = covered = confidence = 0;
        for (int s = 0; s < series; ++s) {
            const Shape shape{100, {{at, step}}, {}, static_cast<double>(state.range(2)) / 100};
            const auto changes = ptrun::find_change_points(simulate(random, shape), settings());
            int closest = kNear + 1;
            for (const ptrun::ChangePoint& c : changes) {
                const int off = std::abs(static_cast<int>(c.first_call) - at);
                if (off > kNear) continue;
                near += 1;
                closest = std::min(closest, off);
                covered += c.comparison.ratio_low <= step && step <= c.comparison.ratio_high ? 1 : 0;
                confidence += c.comparison.confidence;
            }
            all += static_cast<double>(changes.size());
            found += closest <= kNear ? 1 : 0;
            within_2 += closest <= 2 ? 1 : 0;
            exact += closest == 0 ? 1 : 0;
        }
    }
    state.counters["found_pct"] = percent(found, series);
    state.counters["within_2_calls_pct"] = percent(within_2, series);
    state.counters["at_its_call_pct"] = percent(exact, series);
    state.counters["precision_pct"] = percent(near, all);
    state.counters["interval_covers_pct"] = percent(covered, near);
    state.counters["stated_confidence_pct"] = percent(confidence, near);
}
BENCHMARK(BM_HistoryRatesStep)
    ->ArgNames({"step_tenths_pct", "calls_before", "call_share_pct"})
    ->Args({20, 50, 50})->Args({50, 50, 50})->Args({100, 50, 50})
    ->Args({20, 97, 50})->Args({50, 97, 50})->Args({100, 97, 50})
    ->Args({20, 98, 50})->Args({50, 98, 50})->Args({100, 98, 50})
    ->Args({20, 3, 50})->Args({50, 3, 50})->Args({100, 3, 50})
    ->Args({20, 2, 50})->Args({50, 2, 50})->Args({100, 2, 50})
    ->Args({20, 50, 0})->Args({50, 98, 0})
    ->Unit(benchmark::kMillisecond)->Iterations(1);

// Steps of range(0) round spreads (a round spread being 2 %) anywhere with
// at least 2 calls either side in series of 100: the share found at
// exactly their call.
void BM_HistoryRatesLargeStep(benchmark::State& state) {
    const double step = 1 - kSpread * static_cast<double>(state.range(0));
    const int series = 1000;
    double exact = 0;
    for (auto _ : state) {
        std::mt19937_64 random(303);
        exact = 0;
        for (int s = 0; s < series; ++s) {
            const int at = 2 + static_cast<int>(random() % 97);
            const auto changes = ptrun::find_change_points(simulate(random, {100, {{at, step}}, {}}), settings());
            exact += std::any_of(changes.begin(), changes.end(),
                                 [&](const auto& c) { return static_cast<int>(c.first_call) == at; }) ? 1 : 0;
        }
    }
    state.counters["at_its_call_pct"] = percent(exact, series);
}
BENCHMARK(BM_HistoryRatesLargeStep)->ArgNames({"round_spreads"})->Arg(10)->Arg(25)->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// A regression of range(0) tenths of a percent over 10 calls from call 45,
// then reverted: the share of series that show both ends within kNear, 1
// and 0 calls.
void BM_HistoryRatesReverted(benchmark::State& state) {
    const double step = 1 - static_cast<double>(state.range(0)) / 1000;
    const int series = 1000;
    double both[3] = {};
    for (auto _ : state) {
        std::mt19937_64 random(404);
        std::fill(std::begin(both), std::end(both), 0);
        for (int s = 0; s < series; ++s) {
            const auto changes =
                ptrun::find_change_points(simulate(random, {100, {{45, step}, {55, 1 / step}}, {}}), settings());
            const auto near = [&](int at, int within) {
                return std::any_of(changes.begin(), changes.end(), [&](const auto& c) {
                    return std::abs(static_cast<int>(c.first_call) - at) <= within;
                });
            };
            const int within[3] = {kNear, 1, 0};
            for (int i = 0; i < 3; ++i) both[i] += near(45, within[i]) && near(55, within[i]) ? 1 : 0;
        }
    }
    state.counters["both_ends_pct"] = percent(both[0], series);
    state.counters["both_ends_within_1_pct"] = percent(both[1], series);
    state.counters["both_ends_at_their_calls_pct"] = percent(both[2], series);
}
BENCHMARK(BM_HistoryRatesReverted)->ArgNames({"step_tenths_pct"})->Arg(50)->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// The first of nights [from, to) on which `history --fail-above 3` over the
// calls so far fails, if any, and how many calls the newest level it judged had.
std::optional<int> first_failing_night(const std::vector<ptrun::CallRounds>& calls, int from, int to,
                                       std::size_t& newest_calls) {
    for (int n = from; n < to; ++n) {
        const std::vector<ptrun::CallRounds> so_far(calls.begin(), calls.begin() + n);
        const ptrun::Segmentation seg = ptrun::segment_calls(so_far, settings());
        if (ptrun::gate_levels(so_far, seg, std::nullopt, kGatePercent, false).result == ptrun::Gate::fail) {
            newest_calls = seg.levels.back().end_call - seg.levels.back().first_call;
            return n;
        }
    }
    return std::nullopt;
}

// 81 nights of `history --fail-above 3`, each over the calls so far, with
// range(2) calls 10-30 % low (range(3) 1: apart, 0: anywhere): without a
// step (range(0) 0), the share of series whose gate fails on any night;
// with a step of range(0) tenths of a percent down at call range(1), the
// nights from the step (its first call is night 1) until the gate first
// fails: the share by night 2 and 5, the median and the 90th percentile.
// Of the series that failed, the share that first failed on a newest level
// of two calls: where false failures come from.
void BM_HistoryRatesNightly(benchmark::State& state) {
    const double step = 1 - static_cast<double>(state.range(0)) / 1000;
    const int at = static_cast<int>(state.range(1)), odd = static_cast<int>(state.range(2));
    const int nights = 81, series = 1000;
    std::vector<int> delays;
    double failed = 0, on_two = 0;
    for (auto _ : state) {
        std::mt19937_64 random(505);
        delays.clear();
        failed = on_two = 0;
        for (int s = 0; s < series; ++s) {
            Shape shape{nights, {}, odd_calls(random, odd, nights, state.range(3) != 0)};
            if (step < 1) shape.steps.emplace_back(at, step);
            const auto calls = simulate(random, shape);
            std::size_t newest_calls = 0;
            const std::optional<int> night =
                first_failing_night(calls, step < 1 ? at + 1 : 1, nights + 1, newest_calls);
            failed += night ? 1 : 0;
            on_two += night && newest_calls == 2 ? 1 : 0;
            if (night) delays.push_back(*night - at);
        }
    }
    std::sort(delays.begin(), delays.end());
    state.counters["gate_failed_pct"] = percent(failed, series);
    state.counters["failed_on_two_calls_pct"] = percent(on_two, failed);
    if (step == 1) return;
    const auto by = [&](int n) {
        return percent(static_cast<double>(std::upper_bound(delays.begin(), delays.end(), n) - delays.begin()), series);
    };
    // A series whose gate never failed counts as later than any night.
    const auto quantile = [&](double q) {
        const auto k = static_cast<std::size_t>(std::ceil(q * series)) - 1;
        return k < delays.size() ? static_cast<double>(delays[k]) : INFINITY;
    };
    state.counters["by_night_2_pct"] = by(2);
    state.counters["by_night_5_pct"] = by(5);
    state.counters["delay_median"] = quantile(0.5);
    state.counters["delay_90th"] = quantile(0.9);
}
BENCHMARK(BM_HistoryRatesNightly)
    ->ArgNames({"step_tenths_pct", "at", "odd_calls", "apart"})
    ->Args({0, 0, 0, 1})->Args({0, 0, 3, 1})->Args({0, 0, 3, 0})
    ->Args({100, 40, 0, 1})->Args({50, 40, 0, 1})->Args({20, 40, 0, 1})
    ->Args({100, 4, 0, 1})->Args({100, 10, 0, 1})
    ->Unit(benchmark::kMillisecond)->Iterations(1);

// Fleets of range(0) hosts of one kind, each host's median that of one
// call of 3 rounds; with range(1) > 0 the first host that many percent slow.
// The share of fleets that mark any host slow for its kind (of equal hosts)
// or the slow one, and that mark a host that is not slow.
void BM_HistoryRatesStanding(benchmark::State& state) {
    const int hosts = static_cast<int>(state.range(0)), fleets = 2000;
    const double slow = 1 - static_cast<double>(state.range(1)) / 100;
    double marked_slow = 0, marked_other = 0;
    for (auto _ : state) {
        std::mt19937_64 random(606);
        marked_slow = marked_other = 0;
        for (int f = 0; f < fleets; ++f) {
            std::vector<ptrun::HostFigure> figures;
            for (int h = 0; h < hosts; ++h) {
                const auto call = simulate(random, {1, {}, {}});
                const double median = ptrun::median_of(call.front()) * (h == 0 ? slow : 1);
                figures.push_back({"kind", "host-" + std::to_string(h), 1, median});
            }
            const auto standings = ptrun::find_standings(figures);
            marked_slow += standings.front().outlier && slow < 1 ? 1 : 0;
            marked_other += std::any_of(standings.begin() + (slow < 1 ? 1 : 0), standings.end(),
                                        [](const ptrun::Standing& s) { return s.outlier; }) ? 1 : 0;
        }
    }
    if (slow < 1) state.counters["slow_host_marked_pct"] = percent(marked_slow, fleets);
    state.counters["fleets_marking_an_equal_host_pct"] = percent(marked_other, fleets);
}
BENCHMARK(BM_HistoryRatesStanding)
    ->ArgNames({"hosts", "slow_pct"})
    ->Args({20, 0})->Args({100, 0})->Args({500, 0})->Args({20, 10})->Args({100, 10})->Args({500, 10})
    ->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
