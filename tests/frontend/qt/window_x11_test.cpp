// The real program's window on a real (virtual) X server.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/platform.h"
#include "support/test_support.h"
#include "support/xvfb.h"

TEST(RealWindow, AppearsWithItsTitleAndAnUnreachableDisplayIsNoCrash) {
    Xvfb server;
    if (!server.ok()) GTEST_SKIP() << "Xvfb is not available";
    TempDir dir;
    const std::string display = "DISPLAY=" + server.display();

    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        setenv("DISPLAY", server.display().c_str(), 1);
        unsetenv("QT_QPA_PLATFORM");
        if (chdir(dir.path().c_str()) != 0) _exit(126);
        if (freopen("stderr.txt", "w", stderr) == nullptr) _exit(125);
        execl(PT_BINARY, PT_BINARY, static_cast<char*>(nullptr));
        _exit(127);
    }
    // find_window reads DISPLAY from this process's environment.
    const std::string saved = getenv("DISPLAY") != nullptr ? getenv("DISPLAY") : "";
    setenv("DISPLAY", server.display().c_str(), 1);
    WindowId window = 0;
    for (int i = 0; i < 1200 && window == 0; ++i) {  // up to a minute: a busy machine starts pt slowly
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        window = find_window("Processor Test");
    }
    if (saved.empty()) {
        unsetenv("DISPLAY");
    } else {
        setenv("DISPLAY", saved.c_str(), 1);
    }
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_NE(window, 0u) << "no window titled \"Processor Test\" appeared; status " << status
                          << read_file(dir.file("stderr.txt"));

    // A display that does not answer: the dialog cannot be created, and the
    // program says so instead of crashing inside the toolkit.
    const ChildResult child = run_child(PT_BINARY, {"/o=log.txt"}, dir.path(), {"DISPLAY=:9999", "QT_QPA_PLATFORM"});
    EXPECT_EQ(child.exit_code, 255);
    EXPECT_EQ(read_file(dir.file("log.txt")), "ERROR - Cant Create DialogBox\n");
}
