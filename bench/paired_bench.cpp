// Which test suits interleaved rounds: on recorded calls of one build
// interleaved with itself (A/A), with a known slowdown added to B, how often
// each test calls B slower. The rank-sum test of ptrun compare takes the
// rounds as two unpaired sets; the paired test (Wilcoxon's signed-rank test
// on log(B/A) of the rounds run one after the other) takes each round's pair,
// which a drift of the machine's speed moves together; the combination calls
// B slower where either does at half the level, so that it keeps the level.
// Each call of the recording gives every window of kPairs consecutive pairs.
// And whether the slowdown a comparison says it could have seen is seen.
//   PT_AA_RESULTS=aa-1.json:aa-2.json pt_bench --benchmark_filter=Paired
//   pt_bench --benchmark_filter=PowerDetectable
// Rates: slower_*_pct, the share of windows called slower; at a slowdown of
// 0 that is the false alarm (one-sided: half of the level would be 2.5 %).
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

constexpr std::size_t kPairs = 8;

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

// Two-sided exact p of Wilcoxon's signed-rank test (ranks by order; real
// scores are seldom tied), and the sign of the pairs' differences' median.
std::pair<double, int> signed_rank(const std::vector<double>& differences) {
    std::vector<double> sorted;
    for (double d : differences) {
        if (d != 0) sorted.push_back(d);
    }
    std::sort(sorted.begin(), sorted.end(), [](double x, double y) { return std::fabs(x) < std::fabs(y); });
    const std::size_t n = sorted.size();
    std::size_t positive = 0;
    for (std::size_t i = 0; i < n; ++i) positive += sorted[i] > 0 ? i + 1 : 0;
    const std::size_t total = n * (n + 1) / 2;
    std::vector<double> ways(total + 1, 0.0);
    ways[0] = 1;
    for (std::size_t rank = 1; rank <= n; ++rank) {
        for (std::size_t s = total; s >= rank; --s) ways[s] += ways[s - rank];
    }
    double low = 0, high = 0, all = 0;
    for (std::size_t s = 0; s <= total; ++s) {
        all += ways[s];
        low += s <= positive ? ways[s] : 0;
        high += s >= positive ? ways[s] : 0;
    }
    const int sign = 2 * positive > total ? 1 : 2 * positive < total ? -1 : 0;
    return {std::min(1.0, 2 * std::min(low, high) / all), sign};
}

// Slowdown in tenths of a percent: the share of windows each test calls slower.
void BM_PairedAgainstRankSum(benchmark::State& state) {
    const double slowdown = static_cast<double>(state.range(0)) / 1000;
    const auto calls = recorded_calls();
    if (calls.empty()) {
        state.SkipWithError("no recorded calls: set PT_AA_RESULTS to A/A results files");
        return;
    }
    double windows = 0, rank_sum = 0, paired = 0, either = 0;
    for (auto _ : state) {
        for (const auto& pairs : calls) {
            for (std::size_t start = 0; start + kPairs <= pairs.size(); ++start) {
                std::vector<double> a, b, differences;
                for (std::size_t i = start; i < start + kPairs; ++i) {
                    a.push_back(pairs[i].first);
                    b.push_back(pairs[i].second * (1 - slowdown));
                    differences.push_back(std::log(b.back() / a.back()));
                }
                const ptrun::SampleComparison unpaired = ptrun::compare_samples(a, b);
                const auto [p, sign] = signed_rank(differences);
                const bool u = unpaired.verdict == ptrun::Verdict::slower;
                const bool w = p <= ptrun::kAlpha && sign < 0;
                const bool u_half = unpaired.p_value <= ptrun::kAlpha / 2 && unpaired.ratio_high < 1;
                const bool w_half = p <= ptrun::kAlpha / 2 && sign < 0;
                windows += 1;
                rank_sum += u;
                paired += w;
                either += u_half || w_half;
            }
        }
    }
    state.counters["windows"] = windows;
    state.counters["slower_rank_sum_pct"] = 100 * rank_sum / windows;
    state.counters["slower_paired_pct"] = 100 * paired / windows;
    state.counters["slower_either_half_pct"] = 100 * either / windows;
}
BENCHMARK(BM_PairedAgainstRankSum)->Arg(0)->Arg(10)->Arg(20)->Arg(50)->Arg(100)->Arg(200)->Arg(400)->Iterations(1);

// Whether the slowdown a comparison says it could have seen is seen 80 % of
// the time: a call of n rounds a side (normal, CV 1 %, or a tenth of the
// rounds 5 % slow) gives its figure, and a fresh call of the same machine
// with that slowdown added to B is judged by the test; the share called
// slower, over 400 such pairs of calls, is seen_pct.
void BM_PowerDetectableSlowdownSeen(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    const bool outliers = state.range(1) != 0;
    std::mt19937_64 engine(11);
    std::normal_distribution<double> noise(0, 0.01);
    std::uniform_real_distribution<double> chance(0, 1);
    const auto rounds = [&](double factor) {
        std::vector<double> v(n);
        for (double& x : v) x = 1000 * factor * std::exp(noise(engine)) * (outliers && chance(engine) < 0.1 ? 0.95 : 1);
        return v;
    };
    constexpr int kCalls = 400;
    double seen = 0, figures = 0, sum = 0;
    for (auto _ : state) {
        for (int call = 0; call < kCalls; ++call) {
            const std::optional<double> d = ptrun::detectable_slowdown(rounds(1), rounds(1));
            if (!d) continue;
            figures += 1;
            sum += *d;
            seen += ptrun::compare_samples(rounds(1), rounds(1 - *d)).verdict == ptrun::Verdict::slower;
        }
    }
    state.counters["seen_pct"] = figures > 0 ? 100 * seen / figures : 0;
    state.counters["mean_detectable_pct"] = figures > 0 ? 100 * sum / figures : 0;
}
BENCHMARK(BM_PowerDetectableSlowdownSeen)
    ->ArgsProduct({{4, 6, 10, 20, 30, 31, 50, 200}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

}  // namespace
