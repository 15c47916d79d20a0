// The one real run: pt unattended, with an output file, against the real
// clock, under a locale whose decimal separator is a comma (numbers must
// still be written with a point), with standard error on a terminal so the
// status lines show. About 40 seconds.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    for (std::size_t next; (next = text.find('\n', at)) != std::string::npos; at = next + 1) {
        lines.push_back(text.substr(at, next - at));
    }
    if (at < text.size()) lines.push_back(text.substr(at));
    return lines;
}

// The number after prefix on line, which must end in suffix; empty if the
// line has another shape.
std::string number_between(const std::string& line, const std::string& prefix, const std::string& suffix) {
    if (line.size() <= prefix.size() + suffix.size() || line.compare(0, prefix.size(), prefix) != 0 ||
        line.compare(line.size() - suffix.size(), suffix.size(), suffix) != 0) {
        return "";
    }
    const std::string number = line.substr(prefix.size(), line.size() - prefix.size() - suffix.size());
    return number.find_first_not_of("0123456789.e+") == std::string::npos ? number : "";
}

}  // namespace

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

    const ChildResult child =
        run_child(PT_BINARY, {"r.ini", "/o=log.txt"}, dir.path(), {"LC_ALL=de_DE.UTF-8"}, true);
    ASSERT_EQ(child.exit_code, 0) << child.err;

    // The status lines on the terminal: the build, then one per phase, in
    // order. A busy or changing machine adds warning lines, a frequency
    // governor a note.
    std::vector<std::string> status;
    for (const std::string& line : lines_of(child.err)) {
        if (line.rfind("pt: warning: ", 0) != 0 && line.rfind("pt: note: ", 0) != 0) status.push_back(line);
    }
    ASSERT_EQ(status.size(), 5u) << child.err;
    EXPECT_EQ(status[0].rfind("pt: version ", 0), 0u) << status[0];
    EXPECT_NE(status[0].find(", built by "), std::string::npos) << status[0];
    EXPECT_EQ(status[1], "pt: setting up the workload\r");
    EXPECT_EQ(status[2], "pt: calibrating (a little over 6 seconds)\r");
    EXPECT_EQ(status[3].rfind("pt: timing ", 0), 0u) << status[3];
    EXPECT_NE(status[3].find(" work units (about "), std::string::npos) << status[3];
    EXPECT_EQ(status[4].rfind("pt: done, score ", 0), 0u) << status[4];
    EXPECT_NE(status[4].find(", processor share "), std::string::npos) << status[4];

    const std::vector<std::string> log = lines_of(read_file(dir.file("log.txt")));
    ASSERT_EQ(log.size(), 8u) << read_file(dir.file("log.txt"));
    EXPECT_EQ(log[0], "Quillstone (TM) 99 Version 1.0");
    EXPECT_FALSE(log[1].empty());
    EXPECT_EQ(log[2], "32-bit Version");
    EXPECT_EQ(log[3], "Will run: All modules");
    const std::string score_text = number_between(log[4], "Score = ", " ");
    EXPECT_FALSE(score_text.empty()) << log[4];
    EXPECT_EQ(log[5], "GOINTERN= 0");
    EXPECT_EQ(log[6], "CHKLIMIT = 10");
    const std::string iterations = number_between(log[7], "ITERS = ", "");
    ASSERT_FALSE(iterations.empty()) << log[7];
    EXPECT_GE(std::atoi(iterations.c_str()), 2);
    EXPECT_LE(std::atoi(iterations.c_str()), 32000);

    const std::vector<std::string> ini = lines_of(read_file(dir.file("r.ini")));
    const std::vector<std::string> expected_ini = {
        "; written by the parent", "[Parent]", "Message=0", "", "[Test]", "Owner=lab 3", "RESULT", "", "[Other]",
        "Key = value kept",
    };
    ASSERT_EQ(ini.size(), expected_ini.size()) << read_file(dir.file("r.ini"));
    for (std::size_t i = 0; i < ini.size(); ++i) {
        if (expected_ini[i] != "RESULT") {
            EXPECT_EQ(ini[i], expected_ini[i]);
        }
    }
    const std::string result_text = number_between(ini[6], "Result=", " ");
    ASSERT_FALSE(result_text.empty()) << ini[6];

    // The file holds the score to 15 digits, the log line to 3.
    const double result = std::strtod(result_text.c_str(), nullptr);
    EXPECT_GT(result, 0.0);
    char short_form[32];
    std::snprintf(short_form, sizeof short_form, "%.3g", result);
    EXPECT_EQ(score_text, short_form);
}
