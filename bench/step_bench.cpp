// Cost of each module's step: one work unit's calls of it, after the unit's
// resets, as the unit makes them; reported per call. Cursors and records run
// on from one iteration to the next, as they do from one unit to the next.
#include <benchmark/benchmark.h>

#include <string>

#include "driver/work_unit.h"
#include "modules/database/database.h"

namespace {

benchmark::Counter per_call(const benchmark::State& state, double calls_per_unit) {
    return benchmark::Counter(static_cast<double>(state.iterations()) * calls_per_unit,
                              benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void step_benchmark(benchmark::State& state, std::size_t step) {
    const std::int32_t calls_per_unit = kWorkSteps[step].calls_per_unit;
    setup_workload();
    run_work_unit();  // the state a timed unit finds
    for (auto _ : state) {
        reset_work_unit_state();
        run_step_calls(step);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * calls_per_unit);
    state.counters["ns_per_call"] = per_call(state, calls_per_unit);
    // The 28 sweeps of a unit call 833 evaluator copies in all.
    if (std::string(kWorkSteps[step].name) == "parse") state.counters["ns_per_evaluator_call"] = per_call(state, 833);
    db_release();
}

// BM_Step/copy, BM_Step/date, ...: every step of the unit's script but the
// database's, which database_bench.cpp times on its own.
const bool registered = [] {
    for (std::size_t step = 0; step < kWorkStepCount; ++step) {
        if (std::string(kWorkSteps[step].name) == "database") continue;
        benchmark::RegisterBenchmark((std::string("BM_Step/") + kWorkSteps[step].name).c_str(), step_benchmark, step)
            ->Unit(benchmark::kMicrosecond);
    }
    return true;
}();

}  // namespace
