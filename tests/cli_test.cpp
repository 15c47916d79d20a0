// The real program's command-line failures, seen from outside: exit code,
// output file and result file.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

const std::string kUsage =
    "Usage: pt [/o=outfilename] [/test=module] [/break]\n\nWhere:\n"
    "       outfilename is the name of the output file\n"
    "       module is an integer 1-9:\n"
    "        1: data copy       2: data compression\n"
    "        3: date adjustment 4: word analysis\n"
    "        5: parsing         6: library\n"
    "        7: database        8: all\n"
    "        9: non-database\n"
    "       /break prompts at start and end of timed sections\n";

// The usage text as a one-line INI value.
std::string escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace

TEST(Cli, UsageErrorGoesToTheOutputFileAfterTheErrorPrefix) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"/o=out.txt", "/x"}, {"/o=out.txt", "/test=10"}, {"/o=out.txt", "a", "b"}, {"/breakx", "/o=out.txt"},
             {"/o=out.txt", "/"}, {"-test=-1", "-O=out.txt"}}) {
        TempDir dir;
        const ChildResult child = run_child(PT_BINARY, args, dir.path());
        EXPECT_EQ(child.exit_code, 255);
        EXPECT_EQ(read_file(dir.file("out.txt")), "ERROR - " + kUsage + "\n") << args[0] << " " << args[1];
    }
}

TEST(Cli, UsageErrorIsRecordedInTheResultFile) {
    TempDir dir;
    write_file(dir.file("r.ini"), "[Test]\nResult=3.37 \nNote=old\n[Keep]\nx=1\n");
    const ChildResult child = run_child(PT_BINARY, {"r.ini", "/test=10"}, dir.path());
    EXPECT_EQ(child.exit_code, 255);
    EXPECT_EQ(read_file(dir.file("r.ini")), "[Test]\nError=" + escaped(kUsage) + "\n[Keep]\nx=1\n");
}

TEST(Cli, UsageErrorWithOutputAndResultFileGoesToBoth) {
    TempDir dir;
    const ChildResult child = run_child(PT_BINARY, {"/o=log.txt", "r.ini", "/bogus"}, dir.path());
    EXPECT_EQ(child.exit_code, 255);
    EXPECT_EQ(read_file(dir.file("log.txt")), "ERROR - " + kUsage + "\n");
    EXPECT_EQ(read_file(dir.file("r.ini")), "[Test]\nError=" + escaped(kUsage) + "\n");
}

TEST(Cli, TooManyArgumentsAndTooLongOutputNameAreUsageErrors) {
    TempDir dir;
    std::vector<std::string> many{"r.ini"};
    for (int i = 0; i < 19; ++i) many.push_back("/break");
    EXPECT_EQ(run_child(PT_BINARY, many, dir.path()).exit_code, 255);
    EXPECT_NE(read_file(dir.file("r.ini")).find("Error=Usage: pt "), std::string::npos);

    TempDir dir2;
    const std::string long_name = "/o=" + std::string(80, 'n');
    const ChildResult child = run_child(PT_BINARY, {long_name}, dir2.path());
    EXPECT_EQ(child.exit_code, 255);
    EXPECT_NE(child.err.find("Processor Test Error: Usage: pt "), std::string::npos);
    EXPECT_FALSE(file_exists(dir2.file(std::string(80, 'n'))));
}

TEST(Cli, OutputFileThatCannotBeOpenedIsAUsageError) {
    TempDir dir;
    const ChildResult child = run_child(PT_BINARY, {"r.ini", "/o=no/such/dir/log.txt"}, dir.path());
    EXPECT_EQ(child.exit_code, 255);
    EXPECT_EQ(read_file(dir.file("r.ini")), "[Test]\nError=" + escaped(kUsage) + "\n");
}

TEST(Cli, WithoutDisplayTheDialogCannotBeCreated) {
    TempDir dir;
    const ChildResult child =
        run_child(PT_BINARY, {"/o=log.txt"}, dir.path(), {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"});
    EXPECT_EQ(child.exit_code, 255);
    EXPECT_EQ(read_file(dir.file("log.txt")), "ERROR - Cant Create DialogBox\n");
    EXPECT_NE(child.err.find("Processor Test Error: Cant Create DialogBox"), std::string::npos);
}

TEST(Cli, ErrorThatCannotBeRecordedStillReachesStandardError) {
    TempDir dir;
    const ChildResult child = run_child(PT_BINARY, {"missing/r.ini", "/test=10"}, dir.path());
    EXPECT_EQ(child.exit_code, 255);
    EXPECT_NE(child.err.find("could not record the error in the result file \"missing/r.ini\""), std::string::npos);
    EXPECT_NE(child.err.find("ERROR - Usage: pt "), std::string::npos);
}

TEST(Cli, EveryArgumentReachesTheProgramWhole) {
    // Quotes and blanks inside one argument never split it: its pieces would
    // become options and name files nobody meant.
    struct Case {
        std::string result_file;  // the single plain argument, next to /test=10
        std::string bystander;    // a file that must stay as it was
    };
    const Case cases[] = {
        {"R\"x' /o=victim /test=10", "victim"},
        {"home/Bob's \"fast\" run.ini", "home/Bob"},
        {"my results.ini", "my"},
        {"\"q.ini", "q.ini"},
        {"'a b' c", "a b"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        std::filesystem::create_directory(dir.file("home"));
        write_file(dir.file(c.bystander), "precious\n");
        const ChildResult child = run_child(PT_BINARY, {c.result_file, "/test=10"}, dir.path());
        EXPECT_EQ(child.exit_code, 255) << c.result_file;
        EXPECT_EQ(read_file(dir.file(c.bystander)), "precious\n") << c.result_file;
        if (c.result_file.find('/') == std::string::npos || c.result_file.rfind("home/", 0) == 0) {
            EXPECT_NE(read_file(dir.file(c.result_file)).find("Error=Usage: pt "), std::string::npos) << c.result_file;
        }
    }
}
