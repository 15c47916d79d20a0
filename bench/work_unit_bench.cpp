// Cost of a whole work unit and of the set-up, and how the unit's time
// divides between the modules.
#include <benchmark/benchmark.h>

#include <chrono>

#include "workload/workload.h"
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
    struct Piece {
        const char* name;
        void (*run)();
        int calls;
        double ns = 0;
    } pieces[] = {
        {"copy", run_copy_steps, kCopyStepsPerUnit},
        {"date", run_date_steps, kDateStepsPerUnit},
        {"word", run_word_steps, kWordStepsPerUnit},
        {"parse", run_parse_steps, kParseStepsPerUnit},
        {"library", run_library_steps, kLibraryStepsPerUnit},
        {"database", run_database_step, 1},
    };
    setup_workload();
    run_work_unit();
    for (auto _ : state) {
        reset_work_unit_state();
        for (Piece& piece : pieces) {
            const Clock::time_point start = Clock::now();
            piece.run();
            piece.ns += std::chrono::duration<double, std::nano>(Clock::now() - start).count();
        }
        benchmark::ClobberMemory();
    }
    double total = 0;
    for (const Piece& piece : pieces) total += piece.ns;
    const double units = static_cast<double>(state.iterations());
    for (const Piece& piece : pieces) {
        state.counters[std::string(piece.name) + "_ns_per_call"] = piece.ns / units / piece.calls;
        state.counters[std::string(piece.name) + "_share_pct"] = total > 0 ? 100.0 * piece.ns / total : 0;
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
