// The error routine and the result writer, in-process. Both end the process
// on failure, so those cases run as death tests.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "driver/run_driver.h"
#include "platform/platform.h"
#include "shell/shell.h"
#include "support/result_file_fixture.h"
#include "support/test_support.h"

using ResultFile = ResultFileFixture;

TEST_F(ResultFile, SuccessLeavesOnlyTheResultInTheTestSection) {
    write_file(name_, "[Test]\nNote=n\nError=e\nResult=old\nMine=kept\n[Parent]\nMessage=0\n");
    score = 101.0 * 1000.0 / 30001.0;
    write_result();
    EXPECT_EQ(read_file(name_), "[Test]\nResult=3.36655444818506 \nMine=kept\n[Parent]\nMessage=0\n");
}

TEST_F(ResultFile, ErrorReplacesResultAndNoteAndEndsWith255) {
    write_file(name_, "[Test]\nNote=n\nResult=3.37 \n[Other]\nx=1\n");
    EXPECT_EXIT(report_error("Arithmetic evaluation error."), ::testing::ExitedWithCode(255), "");
    EXPECT_EQ(read_file(name_), "[Test]\nError=Arithmetic evaluation error.\n[Other]\nx=1\n");
}

TEST_F(ResultFile, ErrorIsAlsoPrintedWhenAnOutputFileIsOpen) {
    const std::string log = dir_.file("log.txt");
    EXPECT_EXIT(
        {
            if (std::freopen(log.c_str(), "w+", stdout) == nullptr) std::_Exit(3);
            printing = 1;
            report_error("Print string too long.");
        },
        ::testing::ExitedWithCode(255), "");
    EXPECT_EQ(read_file(log), "ERROR - Print string too long.\n");
    EXPECT_EQ(read_file(name_), "[Test]\nError=Print string too long.\n");
}

TEST_F(ResultFile, ErrorWithoutResultFileShowsTheErrorBox) {
    unattended = 0;
    result_file_name = nullptr;
    EXPECT_EXIT(
        {
            set_message_box_handler([](const char* text, const char* caption, unsigned flags) {
                std::fprintf(stderr, "box[%s|%s|%#x]", caption, text, flags);
            });
            report_error("Can't LoadCursor");
        },
        ::testing::ExitedWithCode(255), "box\\[Processor Test Error\\|Can't LoadCursor\\|0x2010\\]");
    EXPECT_FALSE(file_exists(name_));
}

TEST_F(ResultFile, LostResultOrOutputIsAFailureNotASuccess) {
    const std::string missing = dir_.file("gone/r.ini");
    result_file_name = missing.c_str();
    score = 1.0;
    EXPECT_EXIT(write_result(), ::testing::ExitedWithCode(255),
                "pt: Can't write the result file [^\n]*/gone/r.ini.\n$");

    // Output lines lost on a full disk: the result file says so, not "Result".
    result_file_name = name_.c_str();
    write_file(name_, "[Test]\nResult=2 \n");
    EXPECT_EXIT(
        {
            if (std::freopen("/dev/full", "w+", stdout) == nullptr) std::_Exit(3);
            std::strcpy(output_file_name, "/dev/full");
            printing = 1;
            std::printf("Score = 1 \n");
            write_result();
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(255), "");
    EXPECT_EQ(read_file(name_), "[Test]\nError=Can't write the output file /dev/full.\n");
}

TEST_F(ResultFile, NoParentSectionMeansNoNotificationAndNoFailure) {
    score = 1.0;
    write_result();  // returns normally
    EXPECT_EQ(read_file(name_), "[Test]\nResult=1 \n");
}
