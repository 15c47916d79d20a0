// The one real run: pt unattended, with an output file, against the real
// clock, under a locale whose decimal separator is a comma (numbers must
// still be written with a point). About 40 seconds.
#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>

#include "support/test_support.h"

TEST(UnattendedRun, WritesOutputFileAndResultAndKeepsForeignLines) {
    TempDir dir;
    write_file(dir.file("r.ini"),
               "; written by the parent\n"
               "[Parent]\n"
               "Message=0\n"
               "\n"
               "[Test]\n"
               "Note=left by an earlier run\n"
               "Error=stale error\n"
               "Owner=lab 3\n"
               "\n"
               "[Other]\n"
               "Key = value kept\n");

    const ChildResult child = run_child(PT_BINARY, {"r.ini", "/o=log.txt"}, dir.path(), {"LC_ALL=de_DE.UTF-8"});
    ASSERT_EQ(child.exit_code, 0) << child.err;

    const std::string log = read_file(dir.file("log.txt"));
    const std::regex expected(
        "Quillstone \\(TM\\) 99 Version 1\\.0\n"
        "[^\n]+\n"
        "32-bit Version\n"
        "Will run: All modules\n"
        "Score = ([0-9.e+]+) \n"
        "GOINTERN= 0\n"
        "CHKLIMIT = 10\n"
        "ITERS = ([0-9]+)\n");
    std::smatch log_match;
    ASSERT_TRUE(std::regex_match(log, log_match, expected)) << log;
    const int iterations = std::atoi(log_match[2].str().c_str());
    EXPECT_GE(iterations, 2);
    EXPECT_LE(iterations, 32000);

    const std::string ini = read_file(dir.file("r.ini"));
    const std::regex expected_ini(
        "; written by the parent\n"
        "\\[Parent\\]\n"
        "Message=0\n"
        "\n"
        "\\[Test\\]\n"
        "Owner=lab 3\n"
        "Result=([0-9.e+]+) \n"
        "\n"
        "\\[Other\\]\n"
        "Key = value kept\n");
    std::smatch ini_match;
    ASSERT_TRUE(std::regex_match(ini, ini_match, expected_ini)) << ini;

    // The file holds the score to 15 digits, the log line to 3.
    const double result = std::strtod(ini_match[1].str().c_str(), nullptr);
    char short_form[32];
    std::snprintf(short_form, sizeof short_form, "%.3g", result);
    EXPECT_EQ(log_match[1].str(), short_form);
    EXPECT_GT(result, 0.0);
}
