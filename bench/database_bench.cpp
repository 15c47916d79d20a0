// Cost of the database step and of building the database for a run.
#include <benchmark/benchmark.h>

#include "driver/work_unit.h"
#include "workload/workload.h"
#include "modules/database/database.h"

namespace {

// The step as the timed section sees it: the buffers already exist, made by
// the run's first step.
void BM_DatabaseStep(benchmark::State& state) {
    setup_workload();
    database_step();
    for (auto _ : state) {
        benchmark::DoNotOptimize(database_step());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
    db_release();
}
BENCHMARK(BM_DatabaseStep)->Unit(benchmark::kMicrosecond);

// Fill and sort of the 1000 records; each set-up also frees the table of
// the one before, as a release between runs would.
void BM_DbSetup(benchmark::State& state) {
    for (auto _ : state) {
        module_seed = 7;
        benchmark::DoNotOptimize(db_setup());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
    db_release();
}
BENCHMARK(BM_DbSetup)->Unit(benchmark::kMicrosecond);

}  // namespace
