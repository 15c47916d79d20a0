#include "driver/run_checks.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

void clear(char* line, std::size_t size) {
    if (size > 0) line[0] = '\0';
}

void print_line(const char* line) {
    std::fprintf(stderr, "%s\n", line);
    std::fflush(stderr);
}

}  // namespace

double processor_share(const ThreadTimes& before, const ThreadTimes& after) {
    if (after.wall_ns <= before.wall_ns || after.cpu_ns < before.cpu_ns || before.wall_ns == 0) return -1.0;
    return static_cast<double>(after.cpu_ns - before.cpu_ns) / static_cast<double>(after.wall_ns - before.wall_ns);
}

bool share_warning(double share, std::int64_t involuntary_switches, char* line, std::size_t size) {
    clear(line, size);
    if (share < 0.0 || share >= kMinProcessorShare) return false;
    char switches[64] = "";
    if (involuntary_switches >= 0) {
        std::snprintf(switches, sizeof switches, ", %lld involuntary context switches",
                      static_cast<long long>(involuntary_switches));
    }
    std::snprintf(line, size,
                  "%s%.1f %% in the timed section%s: other programs were running, and the score understates "
                  "this machine",
                  kShareWarningStart, share * 100.0, switches);
    return true;
}

bool speed_change_warning(std::uint32_t calibration_ms, std::int32_t calibration_units, std::uint32_t timed_ms,
                          std::int32_t timed_units, char* line, std::size_t size) {
    clear(line, size);
    if (calibration_ms == 0 || calibration_units <= 0 || timed_units <= 0) return false;
    // Time per unit compared as cross products: whole numbers, so a change of
    // exactly the limit is not mistaken for one just above it.
    const double calibrated = static_cast<double>(calibration_ms) * timed_units;
    const double timed = static_cast<double>(timed_ms) * calibration_units;
    if (std::fabs(timed - calibrated) * 100.0 <= kMaxSpeedChangePercent * calibrated) return false;
    const double change = timed / calibrated - 1.0;
    std::snprintf(line, size,
                  "%sduring the run: a work unit took %.1f %% %s time in the timed section than in the "
                  "calibration (another program, a frequency change, or a virtual machine's host)",
                  kSpeedWarningStart, std::fabs(change) * 100.0, change > 0 ? "more" : "less");
    return true;
}

bool governor_note(const char* governor, int cpu, char* line, std::size_t size) {
    clear(line, size);
    if (governor == nullptr || governor[0] == '\0' || std::strcmp(governor, "performance") == 0) return false;
    std::snprintf(line, size,
                  "pt: note: processor %d runs the \"%s\" frequency governor, not \"performance\": its clock "
                  "may change during the run",
                  cpu, governor);
    return true;
}

void note_frequency_governor() {
    char governor[64];
    char line[256];
    const int cpu = processor_governor(-1, governor, sizeof governor);
    if (governor_note(governor, cpu, line, sizeof line)) print_line(line);
}

double check_timed_section(const ThreadTimes& before, const ThreadTimes& after, std::uint32_t calibration_ms,
                           std::int32_t calibration_units, std::uint32_t timed_ms, std::int32_t timed_units) {
    char line[256];
    const double share = processor_share(before, after);
    const std::int64_t switches = before.involuntary_switches >= 0 && after.involuntary_switches >= 0
                                      ? after.involuntary_switches - before.involuntary_switches
                                      : -1;
    if (share_warning(share, switches, line, sizeof line)) print_line(line);
    if (speed_change_warning(calibration_ms, calibration_units, timed_ms, timed_units, line, sizeof line)) {
        print_line(line);
    }
    return share;
}
