// The run driver against a fake tick counter: calibration, iteration count,
// score, printed lines and prompts, without waiting for a real clock.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "driver/run_checks.h"
#include "driver/run_driver.h"
#include "platform/platform.h"
#include "shell/shell.h"
#include "support/test_support.h"
#include "support/death_tests.h"

namespace {

std::vector<std::string> boxes;
void record_box(const char* text, const char* caption, unsigned flags) {
    char line[200];
    std::snprintf(line, sizeof line, "%s|%s|%#x", caption, text, flags);
    boxes.emplace_back(line);
}

class RunDriver : public ::testing::Test {
protected:
    void SetUp() override {
        start_shell("");
        boxes.clear();
        fake_clock::start();
        set_message_box_handler(record_box);
    }
    void TearDown() override {
        fake_clock::stop();
        set_message_box_handler(nullptr);
        set_thread_times_source(nullptr);
        set_tick_source(nullptr);
        reset_shell_settings();
    }
};

// Each reading of the thread's times comes 10 s after the one before and
// finds the thread Percent % of them busier, with Switches more involuntary
// context switches.
template <std::uint64_t Percent, std::int64_t Switches>
ThreadTimes fake_thread_times() {
    static ThreadTimes times{1, 1, 0};
    times.wall_ns += 10000000000u;
    times.cpu_ns += Percent * 100000000u;
    times.involuntary_switches += Switches;
    return times;
}

}  // namespace

TEST(IterationCount, WorkedExamples) {
    EXPECT_EQ(compute_iteration_count(6001, 100), 501);
    EXPECT_EQ(compute_iteration_count(6250, 25), 121);
    EXPECT_EQ(compute_iteration_count(6001, 6401), 32000);
    EXPECT_EQ(compute_iteration_count(6001, 6400), 31996);
    EXPECT_EQ(compute_iteration_count(7000, 1), 6);
}

TEST(IterationCount, ClampsEveryOverflowToTheLimit) {
    // A result above 32000 never becomes 32001.
    EXPECT_EQ(compute_iteration_count(6001, 6402), 32000);
    // So large that the conversion overflows to the most negative integer.
    EXPECT_EQ(compute_iteration_count(6001, 2147483647), 32000);
    // The elapsed time converts as an unsigned value: a huge elapsed time is
    // a slow machine, not a negative one.
    EXPECT_EQ(compute_iteration_count(0xFFFFFFF0u, 1), 2);
}

TEST(Score, IsUnitsTimesAThousandOverMilliseconds) {
    const double s = compute_score(101, 30001);
    EXPECT_DOUBLE_EQ(s, 3.3665544481850604);
    char line[32];
    std::snprintf(line, sizeof line, "Score = %.3g \n", s);
    EXPECT_STREQ(line, "Score = 3.37 \n");
    EXPECT_DOUBLE_EQ(compute_score(32000, 0xFFFFFFFFu), 32000.0 * 1000.0 / 4294967295.0);
}

TEST_F(RunDriver, CalibratesUntilMoreThanSixSecondsAndPrintsEveryLine) {
    // Readings 2000 ms apart: after 3 units exactly 6000 ms have passed,
    // which is not more than 6000, so a 4th unit runs: 8000 ms for 4 units,
    // 30000 / 2000 = 15, plus one = 16 units timed in 2000 ms.
    printing = 1;
    module_label = "Parsing module";
    testing::internal::CaptureStdout();
    const RunOutcome outcome = run_benchmark();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(fake_clock::readings, 7);  // start + 4 calibration readings + 2 timed readings
    EXPECT_DOUBLE_EQ(score, 8.0);
    EXPECT_DOUBLE_EQ(outcome.score, 8.0);
    EXPECT_EQ(outcome.iterations, 16);
    EXPECT_EQ(outcome.elapsed_ms, 2000u);
    EXPECT_EQ(out, std::string("Quillstone (TM) 99 Version 1.0\n") + notice_line +
                       "\n32-bit Version\nWill run: Parsing module\n"
                       "Score = 8 \nGOINTERN= 0\nCHKLIMIT = 10\nITERS = 16\n");
    EXPECT_TRUE(boxes.empty());
}

TEST_F(RunDriver, SlowUnitStopsCalibrationAfterOne) {
    fake_clock::step = 7000;
    run_benchmark();
    EXPECT_EQ(fake_clock::readings, 4);
    EXPECT_DOUBLE_EQ(score, 6.0 * 1000.0 / 7000.0);
}

TEST_F(RunDriver, ElapsedTimesSurviveTheTickCounterWrapping) {
    fake_clock::now = 0xFFFFF000u;
    run_benchmark();
    EXPECT_DOUBLE_EQ(score, 8.0);
}

TEST_F(RunDriver, NothingIsPrintedWithoutAnOutputFile) {
    testing::internal::CaptureStdout();
    run_benchmark();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_DOUBLE_EQ(score, 8.0);
}

TEST_F(RunDriver, BreakPromptsFrameTheTimedSection) {
    break_prompts = 1;
    run_benchmark();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0], "Processor Test|Click OK to start timed section.|0x2040");
    EXPECT_EQ(boxes[1], "Processor Test|End of timed section. Time: 2000, Iters: 16.|0x2040");
}

using RunDriverDeathTest = DeathTestOf<RunDriver>;

TEST_F(RunDriverDeathTest, StoppedClockGivesAnErrorNotAnInfiniteScore) {
    // Calibration needs an advancing clock; the timed section then sees none.
    EXPECT_EXIT(
        {
            set_tick_source([]() -> std::uint32_t {
                static std::uint32_t readings = 0;
                ++readings;
                return readings <= 2 ? (readings - 1) * 7000 : 7000;
            });
            set_message_box_handler(nullptr);
            run_benchmark();
        },
        ::testing::ExitedWithCode(255), "Timed section took 0 ms");
}

TEST(RunChecks, WarnOnlyBeyondTheirThresholds) {
    struct Case {
        double share;
        std::uint32_t calibration_ms, timed_ms;
        const char* share_line;  // nullptr: no warning
        const char* speed_line;
    };
    // 4 calibration units and 16 timed ones: 1500 ms per unit calibrated.
    const Case cases[] = {
        {0.999, 6000, 24000, nullptr, nullptr},
        {0.95, 6000, 25200, nullptr, nullptr},  // exactly 5 % slower is still the same speed
        {0.9499, 6000, 25201, "pt: warning: processor share 95.0 % in the timed section, 7 involuntary context "
                              "switches: other programs were running, and the score understates this machine",
         "pt: warning: speed changed during the run: a work unit took 5.0 % more time in the timed section than "
         "in the calibration (another program, a frequency change, or a virtual machine's host)"},
        {0.5, 6000, 22700, "pt: warning: processor share 50.0 % in the timed section, 7 involuntary context "
                           "switches: other programs were running, and the score understates this machine",
         "pt: warning: speed changed during the run: a work unit took 5.4 % less time in the timed section than "
         "in the calibration (another program, a frequency change, or a virtual machine's host)"},
        {-1.0, 0, 0, nullptr, nullptr},  // nothing measured: nothing to say
    };
    for (const Case& c : cases) {
        char line[300];
        EXPECT_EQ(share_warning(c.share, 7, line, sizeof line), c.share_line != nullptr) << c.share;
        EXPECT_STREQ(line, c.share_line != nullptr ? c.share_line : "");
        EXPECT_EQ(speed_change_warning(c.calibration_ms, 4, c.timed_ms, 16, line, sizeof line),
                  c.speed_line != nullptr) << c.timed_ms;
        EXPECT_STREQ(line, c.speed_line != nullptr ? c.speed_line : "");
    }
    EXPECT_DOUBLE_EQ(processor_share({1000, 500, 3}, {3000, 1500, 9}), 0.5);
    EXPECT_EQ(processor_share({0, 0, -1}, {0, 0, -1}), -1.0);

    char note[200];
    EXPECT_FALSE(governor_note("performance", 0, note, sizeof note));
    EXPECT_FALSE(governor_note("", 0, note, sizeof note));
    EXPECT_TRUE(governor_note("powersave", 3, note, sizeof note));
    EXPECT_STREQ(note, "pt: note: processor 3 runs the \"powersave\" frequency governor, not \"performance\": "
                       "its clock may change during the run");
}

TEST_F(RunDriver, WarnsOnStandardErrorAboutABusyOrChangingMachineOnly) {
    // 4 calibration units at 2000 ms each, then 16 timed units in 32000 ms
    // (the same speed) or, with the plain fake clock, in 2000 ms.
    set_tick_source([]() -> std::uint32_t {
        static const std::uint32_t readings[] = {0, 2000, 4000, 6000, 8000, 10000, 42000};
        static int next = 0;
        const std::uint32_t reading = readings[next];
        next = (next + 1) % 7;
        return reading;
    });
    set_thread_times_source(fake_thread_times<99, 2>);
    testing::internal::CaptureStderr();
    run_benchmark();
    EXPECT_EQ(testing::internal::GetCapturedStderr().find(": warning: "), std::string::npos);
    EXPECT_DOUBLE_EQ(score, 0.5);

    fake_clock::start();
    set_thread_times_source(fake_thread_times<50, 300>);
    testing::internal::CaptureStderr();
    run_benchmark();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("pt: warning: processor share 50.0 % in the timed section, 300 involuntary context switches: "
                       "other programs were running, and the score understates this machine\n"),
              std::string::npos) << err;
    EXPECT_NE(err.find("pt: warning: speed changed during the run: a work unit took 93.8 % less time"),
              std::string::npos) << err;
    EXPECT_DOUBLE_EQ(score, 8.0);
}
