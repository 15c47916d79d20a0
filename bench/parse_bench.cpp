// Cost of the parse step.
#include <benchmark/benchmark.h>

#include "driver/workload.h"
#include "modules/database/database.h"
#include "modules/parse/parse.h"

namespace {

// The 28 sweeps of a unit call 833 evaluator copies in all.
constexpr double kEvaluatorCallsPerUnit = 833;

// One work unit's 28 parse calls (9 to 150 evaluator calls each), as the unit
// makes them: the phase restarts, the cursor runs on. Reported per call.
void BM_ParseStep(benchmark::State& state) {
    setup_workload();
    for (auto _ : state) {
        parse_phase = 0;
        for (int i = 0; i < kParseStepsPerUnit; ++i) benchmark::DoNotOptimize(parse_step());
    }
    const auto per = [&](double count) {
        return benchmark::Counter(static_cast<double>(state.iterations()) * count,
                                  benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    };
    state.counters["ns_per_call"] = per(kParseStepsPerUnit);
    state.counters["ns_per_evaluator_call"] = per(kEvaluatorCallsPerUnit);
    db_release();
}
BENCHMARK(BM_ParseStep)->Unit(benchmark::kMicrosecond);

}  // namespace
