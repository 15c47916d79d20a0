// The real dialog from the program's template with its dialog procedure,
// driven from a second thread the way a user would: look at it, press Run
// Test twice, press Quit. The run works against a fake tick counter, so a
// run is a handful of work units rather than 40 seconds.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "driver/run_driver.h"
#include "platform/platform.h"
#include "frontend/win32/dialog.h"
#include "shell/shell.h"
#include "support/test_support.h"

namespace {

// What the dialog showed while a run was in progress, seen from the run
// itself (its thread is busy, so nobody else can ask the window).
struct DuringRun {
    std::string status;
    std::string label;
    bool wait_cursor = false;
};
std::vector<DuringRun> runs_seen;
std::atomic<HWND> dialog_seen = nullptr;
std::atomic<std::uint32_t> fake_now = 0;

std::string text_now(HWND window) {
    wchar_t text[100] = {};
    InternalGetWindowText(window, text, 100);  // sends no message
    std::string narrow;
    for (const wchar_t* p = text; *p != 0; ++p) narrow += static_cast<char>(*p);
    return narrow;
}

// Every reading is 7001 ms after the one before: calibration stops after
// one unit and the timed section is 6 units long, so the score is
// 6 * 1000 / 7001 = 0.857.
std::uint32_t fake_ticks() {
    if (dialog_seen != nullptr && fake_now == 0) {
        runs_seen.push_back({text_now(GetDlgItem(dialog_seen, kStatusId)), module_label,
                             GetCursor() == LoadCursorA(app_instance, "WAITCURSOR")});
    }
    return fake_now.fetch_add(7001);
}

struct Observation {
    std::string caption;
    std::vector<std::string> controls;  // "class id text" in window order
    std::string status_before;
    std::vector<std::string> status_after;
};

std::string class_of(HWND window) {
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

HWND wait_for_dialog() {
    for (int i = 0; i < 3000; ++i) {
        if (HWND w = FindWindowA(nullptr, "Processor Test")) return w;
        Sleep(10);
    }
    return nullptr;
}

// Waits until a run has put its score into the status field.
std::string wait_for_score(HWND dialog, const std::string& before) {
    for (int i = 0; i < 60000; ++i) {
        const std::string now = text_now(GetDlgItem(dialog, kStatusId));
        if (now != before && now != "Running...") return now;
        Sleep(10);
    }
    return "(no score)";
}

DWORD WINAPI drive(void* parameter) {
    auto* seen = static_cast<Observation*>(parameter);
    HWND dialog = wait_for_dialog();
    if (dialog == nullptr) return 1;
    dialog_seen = dialog;
    char caption[64] = {};
    GetWindowTextA(dialog, caption, sizeof caption);
    seen->caption = caption;
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        char text[100] = {};
        GetWindowTextA(child, text, sizeof text);
        std::string shown = text;
        if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
            shown = SendMessageA(child, STM_GETICON, 0, 0) != 0 ? "(icon)" : "(no icon)";
        }
        seen->controls.push_back(class_of(child) + " " + std::to_string(static_cast<short>(GetDlgCtrlID(child))) +
                                 " " + shown);
    }
    seen->status_before = text_now(GetDlgItem(dialog, kStatusId));

    std::string last = seen->status_before;
    for (int press = 0; press < 2; ++press) {
        fake_now = 0;
        SendMessageA(GetDlgItem(dialog, kRunTestId), BM_CLICK, 0, 0);
        last = wait_for_score(dialog, last);
        seen->status_after.push_back(last);
        // The same score twice would look like no change: clear it.
        SetWindowTextA(GetDlgItem(dialog, kStatusId), "");
        last = "";
    }
    SendMessageA(GetDlgItem(dialog, kQuitId), BM_CLICK, 0, 0);
    return 0;
}

}  // namespace

TEST(Dialog, ShowsTheTemplateRunsOnRunTestAndEndsOnQuit) {
    reset_shell_settings();
    app_instance = GetModuleHandleA(nullptr);
    // /test=0: label stepping from module 1.
    module_number = 1;
    label_stepping = 1;
    select_module_label();
    set_tick_source(fake_ticks);
    runs_seen.clear();

    Observation seen;
    const HANDLE driver = CreateThread(nullptr, 0, drive, &seen, 0, nullptr);
    ASSERT_NE(driver, nullptr);
    const int result = run_dialog();
    const bool driver_done = WaitForSingleObject(driver, 10000) == WAIT_OBJECT_0;
    if (!driver_done) TerminateThread(driver, 2);
    CloseHandle(driver);
    set_tick_source(nullptr);
    dialog_seen = nullptr;

    EXPECT_EQ(result, 0);
    ASSERT_TRUE(driver_done);
    EXPECT_EQ(seen.caption, "Processor Test");
    const std::vector<std::string> controls = {
        std::string("Static 100 ") + product_title,
        std::string("Static 101 ") + notice_line,
        "Static 102 32-bit Version",
        "Static 103 ",
        "Static -1 Score:",
        "Static 104 Not Run",
        "Button 1 Run Test",
        "Button 2 Quit",
        "Static -1 (icon)",
    };
    EXPECT_EQ(seen.controls, controls);
    EXPECT_EQ(seen.status_before, "Not Run");
    EXPECT_EQ(seen.status_after, (std::vector<std::string>{"0.857 ", "0.857 "}));

    // Each run saw "Running..." and the wait cursor, and the labels stepped
    // from module 1 straight to module 3.
    ASSERT_EQ(runs_seen.size(), 2u);
    EXPECT_EQ(runs_seen[0].status, "Running...");
    EXPECT_EQ(runs_seen[0].label, "Data copy module");
    EXPECT_TRUE(runs_seen[0].wait_cursor);
    EXPECT_EQ(runs_seen[1].label, "Date adjustment module");
    EXPECT_EQ(module_number, 4);
    EXPECT_EQ(label_stepping, 1);
    reset_shell_settings();
}

TEST(Dialog, LabelSteppingStopsAtAllModules) {
    // The procedure's run message alone, without a window: the steps after
    // the sixth run.
    reset_shell_settings();
    app_instance = GetModuleHandleA(nullptr);
    set_tick_source(fake_ticks);
    module_number = 7;
    label_stepping = 1;
    fake_now = 0;
    processor_test_dialog(nullptr, kRunMessage, 0, 0);
    EXPECT_EQ(module_number, 8);
    EXPECT_EQ(label_stepping, 0);
    EXPECT_STREQ(module_label, "Database module");
    fake_now = 0;
    processor_test_dialog(nullptr, kRunMessage, 0, 0);
    EXPECT_EQ(module_number, 8);
    EXPECT_STREQ(module_label, "All modules");
    set_tick_source(nullptr);
    reset_shell_settings();
}
