// Cost of the data copy step.
#include <benchmark/benchmark.h>

#include "driver/workload.h"
#include "modules/copy/copy.h"
#include "modules/database/database.h"

namespace {

// One work unit's 3001 copy calls, as the unit makes them; reported per call.
void BM_CopyStep(benchmark::State& state) {
    setup_workload();
    for (auto _ : state) {
        copy_call_counter = 0;
        copy_ring_pos = 4;
        for (copy_calls_left = kCopyStepsPerUnit; copy_calls_left > 0; --copy_calls_left) copy_step();
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kCopyStepsPerUnit);
    state.counters["ns_per_call"] = benchmark::Counter(static_cast<double>(state.iterations()) * kCopyStepsPerUnit,
                                                       benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    db_release();
}
BENCHMARK(BM_CopyStep)->Unit(benchmark::kMicrosecond);

}  // namespace
