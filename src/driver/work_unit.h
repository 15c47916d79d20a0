// The coordinator's part of the workload: the set-up of a run and the work
// unit, the timed quantum, written as one table of steps.
#pragma once

#include <cstddef>
#include <cstdint>

// Step calls of one work unit, in the order the unit makes them.
inline constexpr std::int32_t kCopyStepsPerUnit = 3001;
inline constexpr std::int32_t kDateStepsPerUnit = 123;
inline constexpr std::int32_t kWordStepsPerUnit = 337;
inline constexpr std::int32_t kParseStepsPerUnit = 28;
inline constexpr std::int32_t kLibraryStepsPerUnit = 235;
inline constexpr std::int32_t kDatabaseStepsPerUnit = 1;

// One line of the work unit's script: a module's step, called as the unit
// calls it, and how many times one unit calls it.
struct WorkStep {
    const char* name;  // the module's, as its folder names it
    void (*run)();
    std::int32_t calls_per_unit;
};

inline constexpr std::size_t kWorkStepCount = 6;
// The unit's script in its order; run_work_unit, ptverify and the benchmarks
// all go by it.
extern const WorkStep kWorkSteps[kWorkStepCount];

// Prepares one run; returns the database module's status (0 for success).
std::int32_t setup_workload();

// The timed quantum: resets the per-unit state and makes every step's calls,
// in the script's order.
void run_work_unit();

// The pieces of a work unit; run_work_unit is exactly the reset followed by
// run_step_calls of every step in order, and the benchmarks time them one by
// one.
void reset_work_unit_state();
void run_step_calls(std::size_t step);
