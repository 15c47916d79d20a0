// Whether a run's figure can be trusted: the processor share the benchmark
// thread got during the timed section, a change of speed between the
// calibration and the timed section, and the processor's frequency governor.
// Every finding is one line on standard error, whatever standard error is;
// the output file, the result file and the score never change.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

// Below this share of one processor, other programs took part of the run.
inline constexpr double kMinProcessorShare = 0.95;
// A work unit that took this much more or less time in the timed section
// than in the calibration means the machine's speed changed.
inline constexpr double kMaxSpeedChangePercent = 5.0;

// How the warning lines begin, so that a parent program can tell them apart.
inline constexpr const char* kShareWarningStart = "pt: warning: processor share ";
inline constexpr const char* kSpeedWarningStart = "pt: warning: speed changed ";

// The thread's processor time over the wall time between two readings, or -1
// when the readings say nothing.
double processor_share(const ThreadTimes& before, const ThreadTimes& after);

// Each writes its line (without a line break) into line and returns true when
// there is something to say; otherwise line is empty.
bool share_warning(double share, std::int64_t involuntary_switches, char* line, std::size_t size);
bool speed_change_warning(std::uint32_t calibration_ms, std::int32_t calibration_units, std::uint32_t timed_ms,
                          std::int32_t timed_units, char* line, std::size_t size);
bool governor_note(const char* governor, int cpu, char* line, std::size_t size);

// Prints the note on the governor of the processor the run starts on.
void note_frequency_governor();

// Prints the warnings about a timed section read between before and after;
// returns its processor share (-1 when unknown).
double check_timed_section(const ThreadTimes& before, const ThreadTimes& after, std::uint32_t calibration_ms,
                           std::int32_t calibration_units, std::uint32_t timed_ms, std::int32_t timed_units);
