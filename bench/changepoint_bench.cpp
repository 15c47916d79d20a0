// How often `ptrun history` finds a change where there is none, and how
// often it finds a step that is there: simulated series of 100 calls of 3
// rounds, scores spread 2 % (normal), seeded, so the figures the manual
// quotes come back on every run with the same standard library.
// With them, how often `history --fail-above 1` (and --fail-above-strict 1) fails.
//   pt_bench --benchmark_filter=ChangePoint
// Arguments: the step in tenths of a percent (0: none), how many calls
// after it, the share (percent) of the spread's variance that is the call's
// own (rounds of one call sharing its conditions), and a single outlier
// call that many percent low (0: none).
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "ptrun/decide/changepoint.h"
#include "ptrun/decide/gate.h"

namespace {

constexpr int kCalls = 100, kRounds = 3, kSeries = 1000;
constexpr double kSpread = 0.02;

std::vector<ptrun::CallRounds> series(std::mt19937_64& random, double step, int calls_after, double call_share,
                                      double outlier) {
    std::normal_distribution<double> unit(0, 1);
    const double call_sd = kSpread * std::sqrt(call_share), round_sd = kSpread * std::sqrt(1 - call_share);
    const int outlier_at = std::uniform_int_distribution<int>(0, kCalls - 1)(random);
    std::vector<ptrun::CallRounds> calls(kCalls);
    for (int c = 0; c < kCalls; ++c) {
        double centre = 1000 * (1 + call_sd * unit(random));
        if (c >= kCalls - calls_after) centre *= 1 - step;
        if (outlier > 0 && c == outlier_at) centre *= 1 - outlier;
        auto& rounds = calls[static_cast<std::size_t>(c)];
        for (int r = 0; r < kRounds; ++r) rounds.push_back(centre * (1 + round_sd * unit(random)));
    }
    return calls;
}

void BM_ChangePointRates(benchmark::State& state) {
    const double step = static_cast<double>(state.range(0)) / 1000;
    const double call_share = static_cast<double>(state.range(2)) / 100;
    const double outlier = static_cast<double>(state.range(3)) / 100;
    const int calls_after = static_cast<int>(state.range(1));
    const std::size_t step_at = static_cast<std::size_t>(kCalls - calls_after);
    int flagged = 0, at_step = 0, gate_usual = 0, gate_strict = 0;
    for (auto _ : state) {
        std::mt19937_64 random(34);
        flagged = at_step = gate_usual = gate_strict = 0;
        for (int s = 0; s < kSeries; ++s) {
            const auto found = ptrun::find_change_points(series(random, step, calls_after, call_share, outlier));
            flagged += found.empty() ? 0 : 1;
            bool hit = false;
            for (const ptrun::ChangePoint& c : found) {
                hit = hit || (c.first_call + 1 >= step_at && c.first_call <= step_at + 1);
            }
            at_step += hit ? 1 : 0;
            // `history --fail-above 1` and its strict form: the newest change only.
            if (found.empty()) continue;
            gate_usual += ptrun::gate(found.back().comparison, 1, false) == ptrun::Gate::fail ? 1 : 0;
            gate_strict += ptrun::gate(found.back().comparison, 1, true) == ptrun::Gate::fail ? 1 : 0;
        }
    }
    state.counters["series_with_a_change_pct"] = 100.0 * flagged / kSeries;
    state.counters["found_at_the_step_pct"] = 100.0 * at_step / kSeries;
    state.counters["fail_above_1_pct"] = 100.0 * gate_usual / kSeries;
    state.counters["fail_above_strict_1_pct"] = 100.0 * gate_strict / kSeries;
}
BENCHMARK(BM_ChangePointRates)
    ->ArgNames({"step_tenths_pct", "calls_after", "call_share_pct", "outlier_pct"})
    ->Args({0, 0, 0, 0})
    ->Args({0, 0, 50, 0})
    ->Args({0, 0, 0, 10})
    ->Args({20, 50, 0, 0})
    ->Args({20, 10, 0, 0})
    ->Args({20, 2, 0, 0})
    ->Args({50, 50, 0, 0})
    ->Args({50, 10, 0, 0})
    ->Args({50, 2, 0, 0})
    ->Args({50, 2, 50, 0})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

}  // namespace
