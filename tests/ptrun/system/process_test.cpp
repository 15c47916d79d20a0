// The process handle on the system it runs on: a program is started,
// bounded, pinned, measured and ended with everything it started.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#endif

#include <cerrno>
#include <string>
#include <vector>

#include "ptrun/system/host.h"
#include "ptrun/system/process.h"
#include "support/test_support.h"

using namespace ptrun;

namespace {

std::string child_program() { return own_directory() + "/" + program_file("ptrun_test_child"); }

bool process_alive(long id) {
#ifdef _WIN32
    const HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(id));
    if (process == nullptr) return false;
    const bool alive = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return alive;
#else
    return kill(static_cast<pid_t>(id), 0) == 0 || errno == EPERM;
#endif
}

std::string without_returns(std::string text) {
    std::erase(text, '\r');
    return text;
}

}  // namespace

TEST(PtrunSystemProcess, BoundedMeasuredAndEndedWithAllItStarted) {
    TempDir dir;
    const std::string note = dir.file("grandchild");
    struct Case {
        std::vector<std::string> args;
        std::size_t kept;
        double seconds;
        Captured::End end;
        int exit_code;
    };
    const std::vector<Case> cases = {
        {{"exit", "3"}, 64, 60, Captured::End::exited, 3},
        {{"print", "100000"}, 1000, 60, Captured::End::too_much, -1},
        {{"hang"}, 64, 0.3, Captured::End::too_long, -1},
        {{"tree", note}, 64, 3, Captured::End::too_long, -1},
        {{"spin", "0.3"}, 64, 60, Captured::End::exited, 0},
    };
    for (const Case& c : cases) {
        Launch launch;
        launch.command = {child_program()};
        launch.command.insert(launch.command.end(), c.args.begin(), c.args.end());
        const Captured got = capture(launch, c.kept, c.seconds);
        EXPECT_EQ(got.end, c.end) << c.args[0] << ": " << got.error;
        if (c.end == Captured::End::exited) {
            EXPECT_EQ(got.ending.exit_code, c.exit_code) << c.args[0];
        }
        if (c.args[0] == "print") {
            EXPECT_EQ(got.output.size(), c.kept);
        }
        if (c.args[0] == "spin") {
#ifdef _WIN32
            // Wine, which runs this test, tells another process's times late and low.
            EXPECT_GT(got.ending.processor_s, 0.0);
#else
            EXPECT_GE(got.ending.processor_s, 0.29);
#endif
        }
    }
    // The grandchild the "tree" child started went with it.
    const long grandchild = std::stol("0" + read_file(note));
    EXPECT_GT(grandchild, 0);
    EXPECT_FALSE(process_alive(grandchild)) << grandchild;
}

// Each copy runs on the one processor it is given, whichever that is.
TEST(PtrunSystemProcess, PinnedToTheProcessorAsked) {
    const std::vector<int> usable = usable_processors();
    for (const int cpu : {usable.front(), usable.back()}) {
        Launch launch;
        launch.command = {child_program(), "affinity"};
        launch.cpu = cpu;
        const Captured got = capture(launch, 4096, 60);
        ASSERT_TRUE(got.succeeded()) << got.error;
        EXPECT_EQ(without_returns(got.output), std::to_string(cpu) + "\n");
    }
}

// What the program is given is what it gets, blanks, quotes and backslashes included.
TEST(PtrunSystemProcess, ArgumentsArriveAsGiven) {
    const std::vector<std::string> args = {"plain",    "two words", "",
                                           "say \"hi\"", "C:\\dir\\",  "a\\\\\"b",
                                           "\\\\server\\x y\\"};
    Launch launch;
    launch.command = {child_program(), "args"};
    launch.command.insert(launch.command.end(), args.begin(), args.end());
    const Captured got = capture(launch, 4096, 60);
    ASSERT_TRUE(got.succeeded()) << got.error;
    std::string expected;
    for (const std::string& arg : args) expected += arg + "\n";
    EXPECT_EQ(without_returns(got.output), expected);
}
