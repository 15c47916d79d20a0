// Cost of each library script's format call (the step as a whole is in
// step_bench.cpp).
#include <benchmark/benchmark.h>

#include <string>

#include "driver/work_unit.h"
#include "workload/workload.h"
#include "modules/database/database.h"
#include "modules/library/library.h"

namespace {

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
