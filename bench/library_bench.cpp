// Cost of the library step and of each script's format call.
#include <benchmark/benchmark.h>

#include <string>

#include "driver/workload.h"
#include "modules/database/database.h"
#include "modules/library/library.h"

namespace {

// One work unit's 235 library calls, as the unit makes them; reported per call.
void BM_LibraryStep(benchmark::State& state) {
    setup_workload();
    for (auto _ : state) {
        library_phase = 0;
        library_cursor = 699;
        for (int i = 0; i < kLibraryStepsPerUnit; ++i) library_step();
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kLibraryStepsPerUnit);
    state.counters["ns_per_call"] = benchmark::Counter(static_cast<double>(state.iterations()) * kLibraryStepsPerUnit,
                                                       benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    db_release();
}
BENCHMARK(BM_LibraryStep)->Unit(benchmark::kMicrosecond);

// The format call of one script (the argument is the phase) on the record the
// first call of a unit uses.
void BM_LibraryScript(benchmark::State& state) {
    setup_workload();
    const auto phase = static_cast<std::int32_t>(state.range(0));
    WorkRecord& record = short_records[699];
    for (auto _ : state) {
        benchmark::DoNotOptimize(format_library_script(phase, record));
        benchmark::ClobberMemory();
    }
    std::string label;
    for (const char* at = library_script_for(phase).format; *at != '\0'; ++at) {
        if (*at == '\n') {
            label += "\\n";
        } else {
            label += *at;
        }
    }
    state.SetLabel(label);
    db_release();
}
BENCHMARK(BM_LibraryScript)->DenseRange(0, kLibraryScriptCount - 1);

}  // namespace
