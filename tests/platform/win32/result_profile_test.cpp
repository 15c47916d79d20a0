// The result file through the system's profile functions: what a parent
// program reads afterwards, line by line.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/run_driver.h"
#include "platform/platform.h"
#include "shell/shell.h"
#include "support/result_file_fixture.h"
#include "support/test_support.h"
#include "support/death_tests.h"

namespace {

// The file's non-empty lines, without the line ends the system chose.
std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::string line;
    for (char c : text) {
        if (c == '\r') continue;
        if (c == '\n') {
            if (!line.empty()) lines.push_back(line);
            line.clear();
        } else {
            line += c;
        }
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
}

using Lines = std::vector<std::string>;

class Win32ResultFile : public ResultFileFixture {
protected:
    Lines file_lines() const { return lines_of(read_file(name_)); }
};

}  // namespace

TEST_F(Win32ResultFile, SuccessReplacesErrorAndNoteAndKeepsEverythingElse) {
    write_file(name_, "[Test]\r\nNote=n\r\nError=e\r\nResult=old\r\nMine=kept\r\n[Parent]\r\nMessage=0\r\n");
    score = 101.0 * 1000.0 / 30001.0;
    write_result();
    EXPECT_EQ(file_lines(), (Lines{"[Test]", "Result=3.36655444818506 ", "Mine=kept", "[Parent]", "Message=0"}));
}

TEST_F(Win32ResultFile, NewFileHoldsTheResultSection) {
    score = 1.0;
    write_result();
    EXPECT_EQ(file_lines(), (Lines{"[Test]", "Result=1 "}));
}

TEST_F(Win32ResultFile, MultiLineValueStaysOnItsLine) {
    // The usage text has line breaks; written raw, its lines would become
    // lines of the file, one of them looking like a section header.
    write_file(name_, "[Test]\r\nResult=3\r\n[Other]\r\nx=1\r\n");
    ASSERT_TRUE(profile_write_string("Test", "Error", "first\n[Other]\nx=2\r\nback\\slash", name_.c_str()));
    ASSERT_TRUE(profile_write_string(nullptr, nullptr, nullptr, name_.c_str()));
    EXPECT_EQ(file_lines(),
              (Lines{"[Test]", "Result=3", "Error=first\\n[Other]\\nx=2\\r\\nback\\\\slash", "[Other]", "x=1"}));
    EXPECT_EQ(profile_read_int("Other", "x", 0, name_.c_str()), 1);
}

TEST_F(Win32ResultFile, NamesMatchWithoutRegardToCaseAndDeleteRemovesTheKey) {
    write_file(name_, "[TEST]\r\nRESULT=9\r\nnote=x\r\n");
    ASSERT_TRUE(profile_write_string("Test", "Note", nullptr, name_.c_str()));
    ASSERT_TRUE(profile_write_string("test", "result", "2 ", name_.c_str()));
    profile_write_string(nullptr, nullptr, nullptr, name_.c_str());
    const Lines lines = file_lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].substr(lines[1].find('=')), "=2 ");
}

TEST_F(Win32ResultFile, RelativeNameMeansTheCurrentDirectory) {
    // The system's own lookup would put a bare name into the Windows
    // directory, where nobody who named the file would look for it.
    char previous[MAX_PATH];
    GetCurrentDirectoryA(sizeof previous, previous);
    ASSERT_TRUE(SetCurrentDirectoryA(dir_.path().c_str()));
    const bool written = profile_write_string("Test", "Result", "5 ", "relative.ini");
    profile_write_string(nullptr, nullptr, nullptr, "relative.ini");
    const std::int32_t back = profile_read_int("Test", "Result", -1, "relative.ini");
    SetCurrentDirectoryA(previous);
    EXPECT_TRUE(written);
    EXPECT_TRUE(file_exists(dir_.file("relative.ini")));
    EXPECT_EQ(back, 5);
}

TEST_F(Win32ResultFile, ReadsGiveDefaultsForWhatIsMissing) {
    write_file(name_, "[Parent]\r\nMessage=1025\r\nWindowTitle=  \"My Runner\"  \r\n");
    char text[100];
    EXPECT_EQ(profile_read_int("Parent", "Message", 0, name_.c_str()), 1025);
    EXPECT_EQ(profile_read_int("Parent", "WindowHandle", 0, name_.c_str()), 0);
    EXPECT_EQ(profile_read_int("Nowhere", "Message", 7, dir_.file("none.ini").c_str()), 7);
    profile_read_string("Parent", "WindowTitle", "", text, sizeof text, name_.c_str());
    EXPECT_STREQ(text, "My Runner");
    profile_read_string("Parent", "Missing", "dflt", text, sizeof text, name_.c_str());
    EXPECT_STREQ(text, "dflt");
}

using Win32ResultFileDeathTest = DeathTestOf<Win32ResultFile>;

TEST_F(Win32ResultFileDeathTest, ErrorReplacesResultAndNoteAndEndsWith255) {
    write_file(name_, "[Test]\r\nNote=n\r\nResult=3.37 \r\n[Other]\r\nx=1\r\n");
    EXPECT_EXIT(report_error("Arithmetic evaluation error."), ::testing::ExitedWithCode(255), "");
    EXPECT_EQ(file_lines(), (Lines{"[Test]", "Error=Arithmetic evaluation error.", "[Other]", "x=1"}));
}
