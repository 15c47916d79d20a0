// Cost of a whole work unit and of the set-up, and how the unit's time
// divides between the modules.
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>

#include "driver/profile.h"
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

// Does the profile add up to pt's unit? Blocks of pt's own units (the timed
// section's loop) in turn with blocks of profiled ones, so that whatever else
// the machine does falls on both alike; the ratio of their times per unit.
void BM_ProfiledUnitAgainstPtsUnit(benchmark::State& state) {
    constexpr int kBlock = 16;
    const ProfileSettings settings{0, 0, 0, monotonic_ns, &hardware_counters()};
    Profile profile{};
    std::uint64_t pt_ns = 0;
    std::int64_t pt_units = 0;
    setup_workload();
    for (int unit = 0; unit < 8; ++unit) run_work_unit();
    for (auto _ : state) {
        const std::uint64_t start = monotonic_ns();
        for (int unit = 0; unit < kBlock; ++unit) run_work_unit();
        pt_ns += monotonic_ns() - start;
        pt_units += kBlock;
        for (int unit = 0; unit < kBlock; ++unit) run_measured_unit(settings, profile, nullptr);
        profile.units += kBlock;
        benchmark::ClobberMemory();
    }
    std::uint64_t profile_ns = 0;
    for (std::uint64_t module_ns : profile.module_ns) profile_ns += module_ns;
    const double pt_unit_us = static_cast<double>(pt_ns) / static_cast<double>(pt_units) / 1e3;
    const double profile_unit_us = static_cast<double>(profile_ns) / static_cast<double>(profile.units) / 1e3;
    state.counters["pt_unit_us"] = pt_unit_us;
    state.counters["profile_unit_us"] = profile_unit_us;
    state.counters["profile_over_pt"] = profile_unit_us / pt_unit_us;
    db_release();
}
BENCHMARK(BM_ProfiledUnitAgainstPtsUnit)->Unit(benchmark::kMillisecond);

void BM_SetupWorkload(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(setup_workload());
        db_release();
    }
}
BENCHMARK(BM_SetupWorkload)->Unit(benchmark::kMicrosecond);

}  // namespace
