// Cost of the word step: one work unit's 337 calls, reported per call.
#include <benchmark/benchmark.h>

#include "driver/workload.h"
#include "modules/database/database.h"
#include "modules/words/words.h"

namespace {

void BM_WordStep(benchmark::State& state) {
    setup_workload();
    for (auto _ : state) {
        // The unit's resets, so every pass makes the same calls and draws.
        word_phase = 0;
        word_position = 0;
        module_seed = 7;
        for (int i = 0; i < kWordStepsPerUnit; ++i) word_step();
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kWordStepsPerUnit);
    state.counters["ns_per_call"] = benchmark::Counter(static_cast<double>(state.iterations()) * kWordStepsPerUnit,
                                                       benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    db_release();
}
BENCHMARK(BM_WordStep)->Unit(benchmark::kMicrosecond);

}  // namespace
