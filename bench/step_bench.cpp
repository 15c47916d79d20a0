// Cost of each module's step: one work unit's calls of it, after the unit's
// resets, as the unit makes them; reported per call. Cursors and records run
// on from one iteration to the next, as they do from one unit to the next.
#include <benchmark/benchmark.h>

#include "workload/workload.h"
#include "modules/database/database.h"

namespace {

benchmark::Counter per_call(const benchmark::State& state, double calls_per_unit) {
    return benchmark::Counter(static_cast<double>(state.iterations()) * calls_per_unit,
                              benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void step_benchmark(benchmark::State& state, void (*run_steps)(), int calls_per_unit) {
    setup_workload();
    run_work_unit();  // the state a timed unit finds
    for (auto _ : state) {
        reset_work_unit_state();
        run_steps();
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * calls_per_unit);
    state.counters["ns_per_call"] = per_call(state, calls_per_unit);
    db_release();
}

void BM_CopyStep(benchmark::State& state) { step_benchmark(state, run_copy_steps, kCopyStepsPerUnit); }
void BM_DateStep(benchmark::State& state) { step_benchmark(state, run_date_steps, kDateStepsPerUnit); }
void BM_WordStep(benchmark::State& state) { step_benchmark(state, run_word_steps, kWordStepsPerUnit); }
void BM_LibraryStep(benchmark::State& state) { step_benchmark(state, run_library_steps, kLibraryStepsPerUnit); }

void BM_ParseStep(benchmark::State& state) {
    step_benchmark(state, run_parse_steps, kParseStepsPerUnit);
    // The 28 sweeps of a unit call 833 evaluator copies in all.
    state.counters["ns_per_evaluator_call"] = per_call(state, 833);
}

BENCHMARK(BM_CopyStep)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DateStep)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WordStep)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ParseStep)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LibraryStep)->Unit(benchmark::kMicrosecond);

}  // namespace
