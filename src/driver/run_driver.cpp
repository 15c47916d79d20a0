#include "driver/run_driver.h"

#include <cmath>
#include <cstdio>

#include "driver/run_checks.h"
#include "driver/work_unit.h"
#include "modules/database/database.h"
#include "platform/platform.h"
#include "workload/report_error.h"
#include "workload/workload.h"

const char* product_title = "Quillstone (TM) 99 Version 1.0";
const char* notice_line = "Copyright (C) 2026 the pt developers";
const char* version_text = nullptr;
const char* module_label = nullptr;
std::int32_t printing = 0;
std::int32_t break_prompts = 0;

double score;
const std::int32_t check_limit = 10;

namespace {

// Conversion of a double to a 32-bit integer as the processor does it:
// truncation, and the most negative integer for anything out of range.
std::int32_t truncate_to_int32(double value) {
    if (!(value > -2147483649.0 && value < 2147483648.0)) return INT32_MIN;
    return static_cast<std::int32_t>(value);
}

void print_line(const char* format, const char* text) {
    if (printing == 1) std::printf(format, text);
}

}  // namespace

std::int32_t compute_iteration_count(std::uint32_t elapsed_ms, std::int32_t calibration_units) {
    const double per_unit = static_cast<double>(elapsed_ms) / static_cast<double>(calibration_units);
    double units = kTargetMs / per_unit;
    units = std::ceil(units) + 1.0;
    std::int32_t count = truncate_to_int32(units);
    if (count > kMaxIterations || count < 0) count = kMaxIterations;
    return count;
}

double compute_score(std::int32_t iterations, std::uint32_t elapsed_ms) {
    return (static_cast<double>(iterations) * 1000.0) / static_cast<double>(elapsed_ms);
}

RunOutcome run_benchmark() {
    char text[100];

    print_line("%s\n", product_title);
    print_line("%s\n", notice_line);
    print_line("%s\n", version_text);
    print_line("Will run: %s\n", module_label);
    note_frequency_governor();

    show_status("setting up the workload");
    const std::int32_t status = setup_workload();
    if (status != 0) {
        std::snprintf(text, sizeof text, "Database module returned error code %d .", status);
        report_error(text);
    }

    run_work_unit();
    run_work_unit();

    show_status("calibrating (a little over 6 seconds)");
    std::int32_t calibration_units = 0;
    const std::uint32_t calibration_start = tick_count();
    std::uint32_t calibration_elapsed;
    do {
        run_work_unit();
        calibration_elapsed = tick_count() - calibration_start;
        ++calibration_units;
    } while (calibration_elapsed <= kCalibrationMs);

    const std::int32_t iterations = compute_iteration_count(calibration_elapsed, calibration_units);

    run_work_unit();
    run_work_unit();

    if (break_prompts == 1) {
        message_box("Click OK to start timed section.", "Processor Test", kBoxInformationFlags);
    }

    {
        const double expected_ms =
            static_cast<double>(iterations) * calibration_elapsed / static_cast<double>(calibration_units);
        std::snprintf(text, sizeof text, "timing %d work units (about %.0f seconds)", iterations,
                      expected_ms / 1000.0);
        show_status(text);
    }

    // The timed section: nothing but the work units between the two readings.
    // The processor time the thread got is read just outside it.
    const ThreadTimes before = thread_times();
    const std::uint32_t start = tick_count();
    for (std::int32_t i = 0; i < iterations; ++i) run_work_unit();
    const std::uint32_t end = tick_count();
    const ThreadTimes after = thread_times();
    const std::uint32_t elapsed = end - start;

    if (break_prompts == 1) {
        std::snprintf(text, sizeof text, "End of timed section. Time: %ld, Iters: %d.", static_cast<long>(elapsed),
                      iterations);
        message_box(text, "Processor Test", kBoxInformationFlags);
    }

    if (elapsed == 0) {
        // A tick counter that did not advance gives no score at all, rather
        // than an infinite one.
        report_error("Timed section took 0 ms: the tick counter did not advance.");
    }
    score = compute_score(iterations, elapsed);
    const double share =
        check_timed_section(before, after, calibration_elapsed, calibration_units, elapsed, iterations);

    if (printing == 1) {
        std::printf("Score = %.3g \n", score);
        std::printf("GOINTERN= %d\n", go_intern);
        std::printf("CHKLIMIT = %d\n", check_limit);
        std::printf("ITERS = %d\n", iterations);
    }

    db_release();

    if (share >= 0.0) {
        std::snprintf(text, sizeof text, "done, score %.3g, processor share %.1f %%", score, share * 100.0);
    } else {
        std::snprintf(text, sizeof text, "done, score %.3g", score);
    }
    show_status(text);
    return RunOutcome{score, iterations, elapsed};
}
