// ptrun compare's statistics on many rounds a side: the rank tests, the
// intervals and the estimates without the ratios of all pairs. 10x the rounds
// should cost little more than 10x the time, and memory should stay linear
// (measure it with /usr/bin/time -v on a --benchmark_filter of one size).
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "ptrun/decide/stats.h"

namespace {

std::vector<double> scores(std::size_t count, double centre, unsigned seed) {
    std::mt19937 random(seed);
    std::normal_distribution<double> spread(centre, centre * 0.02);
    std::vector<double> values(count);
    for (double& v : values) v = spread(random);
    return values;
}

void BM_CompareSamples(benchmark::State& state) {
    const auto rounds = static_cast<std::size_t>(state.range(0));
    const std::vector<double> a = scores(rounds, 1000, 1), b = scores(rounds, 990, 2);
    for (auto _ : state) benchmark::DoNotOptimize(ptrun::compare_samples(a, b));
    state.SetComplexityN(state.range(0));
}

BENCHMARK(BM_CompareSamples)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->Complexity();

// The same for pairs: the signed-rank test and its interval over the Walsh
// averages, never held (n (n + 1) / 2 of them: 5 * 10^9 at 100,000 pairs).
void BM_ComparePairs(benchmark::State& state) {
    const auto pairs = static_cast<std::size_t>(state.range(0));
    const std::vector<double> a = scores(pairs, 1000, 1), b = scores(pairs, 990, 2);
    for (auto _ : state) benchmark::DoNotOptimize(ptrun::compare_pairs(a, b));
    state.SetComplexityN(state.range(0));
}

BENCHMARK(BM_ComparePairs)->Arg(100)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->Complexity();

}  // namespace
