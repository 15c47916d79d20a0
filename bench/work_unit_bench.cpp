// Cost of a whole work unit and of the set-up, and how the unit's time
// divides between the modules.
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>

#include "driver/work_unit.h"
#include "modules/database/database.h"

namespace {

void BM_WorkUnit(benchmark::State& state) {
    setup_workload();
    run_work_unit();  // the first database step of a run allocates its buffers
    for (auto _ : state) {
        run_work_unit();
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
    db_release();
}
BENCHMARK(BM_WorkUnit)->Unit(benchmark::kMicrosecond);

// A work unit run piece by piece with a clock reading between the modules:
// nanoseconds per step call and each module's share of the unit.
void BM_WorkUnitByModule(benchmark::State& state) {
    using Clock = std::chrono::steady_clock;
    double ns[kWorkStepCount] = {};
    setup_workload();
    run_work_unit();
    for (auto _ : state) {
        reset_work_unit_state();
        for (std::size_t step = 0; step < kWorkStepCount; ++step) {
            const Clock::time_point start = Clock::now();
            run_step_calls(step);
            ns[step] += std::chrono::duration<double, std::nano>(Clock::now() - start).count();
        }
        benchmark::ClobberMemory();
    }
    double total = 0;
    for (double step_ns : ns) total += step_ns;
    const double units = static_cast<double>(state.iterations());
    for (std::size_t step = 0; step < kWorkStepCount; ++step) {
        const std::string name = kWorkSteps[step].name;
        state.counters[name + "_ns_per_call"] = ns[step] / units / kWorkSteps[step].calls_per_unit;
        state.counters[name + "_share_pct"] = total > 0 ? 100.0 * ns[step] / total : 0;
    }
    db_release();
}
BENCHMARK(BM_WorkUnitByModule)->Unit(benchmark::kMicrosecond);

void BM_SetupWorkload(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(setup_workload());
        db_release();
    }
}
BENCHMARK(BM_SetupWorkload)->Unit(benchmark::kMicrosecond);

}  // namespace
