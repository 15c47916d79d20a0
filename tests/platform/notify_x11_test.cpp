// Parent notification under a real (virtual) X server: a window of the test
// receives the ClientMessage the result writer sends.
#include <gtest/gtest.h>

#ifdef PT_HAVE_X11

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "driver/run_driver.h"
#include "platform/platform.h"
#include "platform/posix/x11.h"
#include "shell/shell.h"
#include "support/test_support.h"
#include "support/xvfb.h"

namespace {

class ParentNotification : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        server_ = new Xvfb();
        if (server_->ok()) setenv("DISPLAY", server_->display().c_str(), 1);
    }
    static void TearDownTestSuite() {
        unsetenv("DISPLAY");
        delete server_;
        server_ = nullptr;
    }

    void SetUp() override {
        if (!server_->ok()) GTEST_SKIP() << "Xvfb is not available";
        display_ = XOpenDisplay(nullptr);
        ASSERT_NE(display_, nullptr);
        reset_shell_settings();
        name_ = dir_.file("r.ini");
        result_file_name = name_.c_str();
        unattended = 1;
        score = 3.37;
    }
    void TearDown() override {
        if (display_ != nullptr) XCloseDisplay(display_);
        reset_shell_settings();
    }

    Window make_window(const char* title, bool utf8_title_only = false) {
        const Window w = XCreateSimpleWindow(display_, DefaultRootWindow(display_), 0, 0, 10, 10, 0, 0, 0);
        if (utf8_title_only) {
            XChangeProperty(display_, w, XInternAtom(display_, "_NET_WM_NAME", False),
                            XInternAtom(display_, "UTF8_STRING", False), 8, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(title), static_cast<int>(std::strlen(title)));
        } else {
            XStoreName(display_, w, title);
        }
        XSync(display_, False);
        return w;
    }

    // The next ClientMessage for this client, or a zeroed event after a
    // second without one.
    XClientMessageEvent next_message() {
        XClientMessageEvent none{};
        pollfd p{ConnectionNumber(display_), POLLIN, 0};
        for (int waited = 0; waited < 1000; waited += 50) {
            while (XPending(display_) > 0) {
                XEvent e;
                XNextEvent(display_, &e);
                if (e.type == ClientMessage) return e.xclient;
            }
            poll(&p, 1, 50);
        }
        return none;
    }

    static Xvfb* server_;
    Display* display_ = nullptr;
    TempDir dir_;
    std::string name_;
};

Xvfb* ParentNotification::server_ = nullptr;

}  // namespace

TEST_F(ParentNotification, ByWindowHandle) {
    const Window w = make_window("parent by id");
    write_file(name_, "[Parent]\nMessage=1234\nWindowHandle=" + std::to_string(w) + "\n");
    write_result();
    const XClientMessageEvent m = next_message();
    EXPECT_EQ(m.window, w);
    EXPECT_EQ(m.message_type, XInternAtom(display_, kNotifyAtomName, False));
    EXPECT_EQ(m.format, 32);
    EXPECT_EQ(m.data.l[0], 1234);
    EXPECT_EQ(m.data.l[1], 0);
    EXPECT_EQ(m.data.l[2], 0);
    // The score was in the file before the message was sent.
    EXPECT_NE(read_file(name_).find("Result=3.37 "), std::string::npos);
}

TEST_F(ParentNotification, ByWindowTitleOldOrUtf8) {
    make_window("some other window");
    const Window w = make_window("Result Watcher");
    write_file(name_, "[Parent]\nMessage=77\nWindowTitle=\"Result Watcher\"\n");
    write_result();
    XClientMessageEvent m = next_message();
    EXPECT_EQ(m.window, w);
    EXPECT_EQ(m.data.l[0], 77);

    const Window u = make_window("Watcher \xC3\xA9", true);
    write_file(name_, "[Parent]\nMessage=78\nWindowTitle=Watcher \xC3\xA9\n");
    write_result();
    m = next_message();
    EXPECT_EQ(m.window, u);
    EXPECT_EQ(m.data.l[0], 78);
}

TEST_F(ParentNotification, TitleIsNotReadWhenAHandleIsGiven) {
    const Window by_id = make_window("id window");
    const Window by_title = make_window("title window");
    write_file(name_, "[Parent]\nMessage=5\nWindowHandle=" + std::to_string(by_id) + "\nWindowTitle=title window\n");
    write_result();
    const XClientMessageEvent m = next_message();
    EXPECT_EQ(m.window, by_id);
    EXPECT_EQ(next_message().window, 0u) << "only one message, to the handle";

    // A handle that names no window still wins over the title: nothing is sent.
    XDestroyWindow(display_, by_id);
    XSync(display_, False);
    write_file(name_, "[Parent]\nMessage=5\nWindowHandle=" + std::to_string(by_id) + "\nWindowTitle=title window\n");
    write_result();
    EXPECT_EQ(next_message().window, 0u);
    (void)by_title;
}

TEST_F(ParentNotification, NothingIsSentWithoutMessageOrWindow) {
    const Window w = make_window("quiet");
    write_file(name_, "[Parent]\nMessage=0\nWindowHandle=" + std::to_string(w) + "\n");
    write_result();
    write_file(name_, "[Parent]\nWindowTitle=quiet\n");
    write_result();
    write_file(name_, "[Parent]\nMessage=9\nWindowTitle=no such window\n");
    write_result();
    EXPECT_EQ(next_message().window, 0u);
}

TEST_F(ParentNotification, FindsWindowsByExactTitleOnly) {
    const Window w = make_window("Exact");
    EXPECT_EQ(find_window("Exact"), w);
    EXPECT_EQ(find_window("exact"), 0u);
    EXPECT_EQ(find_window("Exac"), 0u);
    EXPECT_EQ(find_window(""), 0u);
}

// Displays that accept a connection and never answer: a stopped server, and
// a socket nobody serves. The finished run still ends in time with its output
// flushed and its result recorded, and the window gives up as promised.
TEST(UnansweringDisplay, NotificationAndWindowGiveUpWithinSeconds) {
    Xvfb stopped;
    if (!stopped.ok()) GTEST_SKIP() << "Xvfb is not available";
    stopped.stop_answering();
    // A listening TCP socket on a display port of its own; the kernel
    // completes every connection, nothing ever reads from it.
    const int silent = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(silent, 0);
    int number = 50;
    for (;; ++number) {
        ASSERT_LT(number, 400) << "no free display port";
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<std::uint16_t>(6000 + number));
        if (bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) break;
    }
    ASSERT_EQ(listen(silent, 16), 0);
    ASSERT_EQ(fcntl(silent, F_SETFL, O_NONBLOCK), 0);
    // Connections made to the silent socket since the last look.
    const auto connections = [silent] {
        int count = 0;
        for (int c; (c = accept(silent, nullptr, nullptr)) >= 0; ++count) close(c);
        return count;
    };
    const std::string displays[] = {stopped.display(), "127.0.0.1:" + std::to_string(number)};

    struct Parent {
        const char* section;
        bool contacts_display;
    };
    const Parent parents[] = {
        {"[Parent]\nMessage=5\nWindowTitle=watcher\n", true},
        {"[Parent]\nMessage=5\nWindowHandle=12345\n", true},
        {"[Parent]\nWindowTitle=watcher\n", false},
    };
    for (const std::string& display : displays) {
        for (const Parent& parent : parents) {
            TempDir dir;
            const std::string result = dir.file("r.ini");
            const std::string log = dir.file("log.txt");
            write_file(result, parent.section);
            const auto start = std::chrono::steady_clock::now();
            EXPECT_EXIT(
                {
                    alarm(20);  // a hang fails the case instead of the whole suite
                    setenv("DISPLAY", display.c_str(), 1);
                    reset_shell_settings();
                    result_file_name = result.c_str();
                    unattended = 1;
                    if (std::freopen(log.c_str(), "w+", stdout) == nullptr) std::_Exit(3);
                    printing = 1;
                    std::printf("Score = 3.37 \n");
                    score = 3.37;
                    write_result();
                    std::_Exit(read_file(log) == "Score = 3.37 \n" ? 0 : 4);  // flushed before the notification
                },
                ::testing::ExitedWithCode(0), "")
                << display << " " << parent.section;
            const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            EXPECT_LT(seconds, 15.0) << display << " " << parent.section;
            EXPECT_NE(read_file(result).find("Result=3.37 "), std::string::npos);
            if (display != stopped.display()) {
                EXPECT_EQ(connections() > 0, parent.contacts_display) << parent.section;
            }
        }

        // The window: no dialog can be created, said within a few seconds.
        TempDir dir;
        const auto start = std::chrono::steady_clock::now();
        const ChildResult child = run_child("/usr/bin/timeout", {"20", PT_BINARY, "/o=log.txt"}, dir.path(),
                                            {"DISPLAY=" + display, "QT_QPA_PLATFORM"});
        const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_EQ(child.exit_code, 255) << display;
        EXPECT_EQ(read_file(dir.file("log.txt")), "ERROR - Cant Create DialogBox\n") << display;
        EXPECT_LT(seconds, 15.0) << display;
    }
    close(silent);
}

#endif  // PT_HAVE_X11
