// Cost of what ptrun reads around each round: a snapshot before and one
// after (per run, of its processors, sensors and load), and the whole
// environment once per call.
#include <benchmark/benchmark.h>

#include "ptrun/run/environment.h"

namespace {

void BM_Snapshot(benchmark::State& state) {
    const std::vector<int> cpus = {0};
    for (auto _ : state) benchmark::DoNotOptimize(ptrun::read_snapshot(cpus));
}
BENCHMARK(BM_Snapshot)->Unit(benchmark::kMicrosecond);

void BM_Environment(benchmark::State& state) {
    const std::vector<int> cpus = {0};
    for (auto _ : state) benchmark::DoNotOptimize(ptrun::read_environment(cpus));
}
BENCHMARK(BM_Environment)->Unit(benchmark::kMicrosecond);

}  // namespace
