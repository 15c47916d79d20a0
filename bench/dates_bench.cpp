// Cost of the date step: one work unit's 123 calls, as the unit makes them,
// reported per call. The record cursor and the record dates run on from one
// iteration to the next, as they do from one work unit to the next.
#include <benchmark/benchmark.h>

#include "driver/workload.h"
#include "modules/database/database.h"
#include "modules/dates/dates.h"

namespace {

void BM_DateStep(benchmark::State& state) {
    setup_workload();
    run_work_unit();  // sets the base date; the date step changes only its year
    for (auto _ : state) {
        base_year = 1949;
        date_phase = 0;
        for (int i = 0; i < kDateStepsPerUnit; ++i) date_step(&out_minute, &out_hour, &out_day, &out_month, &base_year);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kDateStepsPerUnit);
    state.counters["ns_per_call"] = benchmark::Counter(static_cast<double>(state.iterations()) * kDateStepsPerUnit,
                                                       benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    db_release();
}
BENCHMARK(BM_DateStep)->Unit(benchmark::kMicrosecond);

}  // namespace
