// The run driver against a fake tick counter: calibration, iteration count,
// score, printed lines and prompts, without waiting for a real clock.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

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
        reset_shell_settings();
    }
};

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
