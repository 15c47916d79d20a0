// Parsing module: expression scanner, tree builder and evaluator copies.
#pragma once

#include <cstdint>

// The sweep phase; every work unit resets it.
extern std::int32_t parse_phase;

// Record cursor of the parse step; never reset after program start, so it
// runs on across work units and runs.
extern std::int32_t parse_cursor;

inline constexpr int kSweepPhases = 15;
// Evaluator copies called by the sweep of each parse_phase.
extern const std::int32_t sweep_lengths[kSweepPhases];

// The last record the parse step reads; the table's last record is never fed.
inline constexpr std::int32_t kLastParsedRecord = 698;

// Results a sweep's last evaluation may have.
inline constexpr std::int32_t kLowestSweepResult = -20;
inline constexpr std::int32_t kHighestSweepResult = 21600;

// One sweep: feeds the next sweep_lengths[parse_phase] records' expressions
// to evaluator copies 1, 2, ... and checks the last result. Returns the last
// result (1 where no evaluation was asked for).
std::int32_t parse_step();
