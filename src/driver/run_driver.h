// One complete benchmark run: header, set-up, warm-up, calibration, the timed
// section and the score.
#pragma once

#include <cstdint>

// ---- What a run prints and asks, set by the shell before it -------------------
extern const char* product_title;
extern const char* notice_line;
extern const char* version_text;
extern const char* module_label;
extern std::int32_t printing;       // 1: print the header, score and diagnostic lines
extern std::int32_t break_prompts;  // 1: ask before and after the timed section

// Work units per second of the last run.
extern double score;
// Printed as CHKLIMIT.
extern const std::int32_t check_limit;

inline constexpr std::uint32_t kCalibrationMs = 6000;
inline constexpr double kTargetMs = 30000.0;
inline constexpr std::int32_t kMaxIterations = 32000;

// How a run ended. A run that fails does not return: it ends the process
// through report_error.
struct RunOutcome {
    double score;               // work units per second, also left in score
    std::int32_t iterations;    // work units in the timed section
    std::uint32_t elapsed_ms;   // length of the timed section
};

// One complete run. Recording the score in a result file is the caller's.
RunOutcome run_benchmark();

// Units for the timed section from calibration_units units that took
// elapsed_ms: enough for about 30 seconds, rounded up, plus one, and at most
// 32000.
std::int32_t compute_iteration_count(std::uint32_t elapsed_ms, std::int32_t calibration_units);

// Work units per second; elapsed_ms must not be 0.
double compute_score(std::int32_t iterations, std::uint32_t elapsed_ms);
