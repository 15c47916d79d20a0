// Which test suits interleaved rounds: on recorded calls of one build
// interleaved with itself (A/A), with a known slowdown added to B, how often
// each test calls B slower. The rank-sum test takes the rounds as two
// unpaired sets; the paired test (compare_pairs: Wilcoxon's signed-rank test
// on log(B/A) of the rounds run one after the other, which compare uses for
// interleaved rounds from 6 pairs) takes each round's pair, which a drift of
// the machine's speed moves together; the combination calls B slower where
// either does at half the level, so that it keeps the level. Each call of the
// recording gives every window of n consecutive pairs. Then the same on
// simulated calls of a steady machine and of one whose speed drifts, and
// whether the slowdown a comparison says it could have seen is seen.
//   PT_AA_RESULTS=aa-quiet.json:aa-1.json:aa-2.json pt_bench --benchmark_filter=PairedAgainst
//   pt_bench --benchmark_filter='PairedOnSimulated|PowerDetectable'
// Rates: slower_*_pct, the share of windows (calls) called slower; at a
// slowdown of 0 that is the false alarm (one-sided: half of the level would
// be 2.5 %).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "ptrun/decide/analyse.h"
#include "ptrun/decide/levels.h"
#include "ptrun/decide/power.h"
#include "ptrun/decide/stats.h"
#include "ptrun/model/reader.h"

namespace {

// The pairs of a call's rounds of one copy outside warm-up: A's and B's round
// of the same number (interleaved, they ran one after the other).
std::vector<std::pair<double, double>> pairs_of(const ptrun::Document& doc) {
    std::vector<std::pair<double, double>> pairs;
    for (const ptrun::RoundFigure& a : doc.rounds) {
        if (a.warmup || a.copies != 1 || a.build != std::string_view("A")) continue;
        for (const ptrun::RoundFigure& b : doc.rounds) {
            if (!b.warmup && b.copies == 1 && b.build == std::string_view("B") && b.round == a.round) {
                pairs.emplace_back(a.rate, b.rate);
            }
        }
    }
    return pairs;
}

std::vector<std::vector<std::pair<double, double>>> recorded_calls() {
    std::vector<std::vector<std::pair<double, double>>> calls;
    const char* names = std::getenv("PT_AA_RESULTS");
    std::stringstream list(names == nullptr ? "" : names);
    for (std::string path; std::getline(list, path, ':');) {
        std::string error;
        std::optional<ptrun::Document> doc = ptrun::load_results(path, error);
        if (!doc) continue;
        ptrun::analyse(*doc, ptrun::kRoundsOnly);
        calls.push_back(pairs_of(*doc));
    }
    return calls;
}

// Counts of calls each test calls B slower.
struct Tally {
    double calls = 0, rank_sum = 0, paired = 0, either = 0;

    void add(const std::vector<double>& a, const std::vector<double>& b) {
        const ptrun::SampleComparison unpaired = ptrun::compare_samples(a, b);
        const ptrun::SampleComparison pairs = ptrun::compare_pairs(a, b);
        const auto slower_at = [](const ptrun::SampleComparison& c, double alpha) {
            return c.p_value <= alpha && c.ratio_high < 1;
        };
        calls += 1;
        rank_sum += unpaired.verdict == ptrun::Verdict::slower;
        paired += pairs.verdict == ptrun::Verdict::slower;
        either += slower_at(unpaired, ptrun::kAlpha / 2) || slower_at(pairs, ptrun::kAlpha / 2);
    }
    void report(benchmark::State& state) const {
        state.counters["calls"] = calls;
        state.counters["slower_rank_sum_pct"] = 100 * rank_sum / calls;
        state.counters["slower_paired_pct"] = 100 * paired / calls;
        state.counters["slower_either_half_pct"] = 100 * either / calls;
    }
};

// Slowdown in tenths of a percent, pairs a window: the share of windows each
// test calls slower.
void BM_PairedAgainstRankSum(benchmark::State& state) {
    const double slowdown = static_cast<double>(state.range(0)) / 1000;
    const auto pairs_a_window = static_cast<std::size_t>(state.range(1));
    const auto calls = recorded_calls();
    if (calls.empty()) {
        state.SkipWithError("no recorded calls: set PT_AA_RESULTS to A/A results files");
        return;
    }
    Tally tally;
    for (auto _ : state) {
        for (const auto& pairs : calls) {
            for (std::size_t start = 0; start + pairs_a_window <= pairs.size(); ++start) {
                std::vector<double> a, b;
                for (std::size_t i = start; i < start + pairs_a_window; ++i) {
                    a.push_back(pairs[i].first);
                    b.push_back(pairs[i].second * (1 - slowdown));
                }
                tally.add(a, b);
            }
        }
    }
    tally.report(state);
}
BENCHMARK(BM_PairedAgainstRankSum)
    ->ArgsProduct({{0, 10, 20, 50, 100, 200, 400}, {6, 8, 12}})
    ->Iterations(1);

// Simulated calls of n pairs, rounds spread 1 % (CV) about a machine speed
// that is steady (drift 0) or moves by drift tenths of a percent from the
// first pair to the last, along a line of random slope sign; B slowed by
// slowdown tenths of a percent. 2000 calls a case.
void BM_PairedOnSimulatedCalls(benchmark::State& state) {
    const double slowdown = static_cast<double>(state.range(0)) / 1000;
    const auto n = static_cast<std::size_t>(state.range(1));
    const double drift = static_cast<double>(state.range(2)) / 1000;
    std::mt19937_64 engine(17);
    std::normal_distribution<double> noise(0, 0.01);
    Tally tally;
    for (auto _ : state) {
        for (int call = 0; call < 2000; ++call) {
            const double direction = engine() % 2 == 0 ? 1 : -1;
            std::vector<double> a(n), b(n);
            for (std::size_t i = 0; i < n; ++i) {
                const double speed = 1 + direction * drift * static_cast<double>(i) / static_cast<double>(n - 1);
                a[i] = 1000 * speed * std::exp(noise(engine));
                b[i] = 1000 * (1 - slowdown) * speed * std::exp(noise(engine));
            }
            tally.add(a, b);
        }
    }
    tally.report(state);
}
BENCHMARK(BM_PairedOnSimulatedCalls)
    ->ArgsProduct({{0, 10, 20, 50}, {6, 8, 12, 20}, {0, 50}})
    ->Iterations(1);

// Whether the slowdown a comparison says it could have seen is seen 80 % of
// the time: a call of n rounds a side (normal, CV 1 %, or a tenth of the
// rounds 5 % slow) gives its figure, and a fresh call of the same machine
// with that slowdown added to B is judged by the test; the share called
// slower, over 400 such pairs of calls, is seen_pct. Paired (third argument
// 1): the rounds are pairs on a machine whose speed moves 5 % along the
// call, the figure and the test compare_pairs's.
void BM_PowerDetectableSlowdownSeen(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    const bool outliers = state.range(1) != 0;
    const bool paired = state.range(2) != 0;
    std::mt19937_64 engine(11);
    std::normal_distribution<double> noise(0, 0.01);
    std::uniform_real_distribution<double> chance(0, 1);
    const auto round = [&](double factor, std::size_t i) {
        const double speed = paired && n > 1 ? 1 + 0.05 * static_cast<double>(i) / static_cast<double>(n - 1) : 1;
        return 1000 * factor * speed * std::exp(noise(engine)) * (outliers && chance(engine) < 0.1 ? 0.95 : 1);
    };
    const auto call = [&](double factor) {
        std::pair<std::vector<double>, std::vector<double>> ab;
        for (std::size_t i = 0; i < n; ++i) {
            ab.first.push_back(round(1, i));
            ab.second.push_back(round(factor, i));
        }
        return ab;
    };
    constexpr int kCalls = 400;
    double seen = 0, figures = 0, sum = 0;
    for (auto _ : state) {
        for (int c = 0; c < kCalls; ++c) {
            const auto [a, b] = call(1);
            const std::optional<double> d =
                paired ? ptrun::detectable_paired_slowdown(a, b) : ptrun::detectable_slowdown(a, b);
            if (!d) continue;
            figures += 1;
            sum += *d;
            const auto [x, y] = call(1 - *d);
            const ptrun::SampleComparison judged = paired ? ptrun::compare_pairs(x, y) : ptrun::compare_samples(x, y);
            seen += judged.verdict == ptrun::Verdict::slower;
        }
    }
    state.counters["seen_pct"] = figures > 0 ? 100 * seen / figures : 0;
    state.counters["mean_detectable_pct"] = figures > 0 ? 100 * sum / figures : 0;
}
BENCHMARK(BM_PowerDetectableSlowdownSeen)
    ->ArgsProduct({{4, 6, 10, 20, 30, 31, 50, 200}, {0, 1}, {0}})
    ->ArgsProduct({{6, 8, 10, 20, 50, 100, 101, 200}, {0, 1}, {1}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

}  // namespace
