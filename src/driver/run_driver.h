// One complete benchmark run: header, set-up, warm-up, calibration, the timed
// section and the score.
#pragma once

#include <cstdint>

// Work units per second of the last run.
extern double score;
// Printed as CHKLIMIT.
extern const std::int32_t check_limit;

inline constexpr std::uint32_t kCalibrationMs = 6000;
inline constexpr double kTargetMs = 30000.0;
inline constexpr std::int32_t kMaxIterations = 32000;

void run_benchmark();

// Units for the timed section from calibration_units units that took
// elapsed_ms: enough for about 30 seconds, rounded up, plus one, and at most
// 32000.
std::int32_t compute_iteration_count(std::uint32_t elapsed_ms, std::int32_t calibration_units);

// Work units per second; elapsed_ms must not be 0.
double compute_score(std::int32_t iterations, std::uint32_t elapsed_ms);
