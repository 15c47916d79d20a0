#include "frontend/win32/dialog.h"

#include <cstdio>

#include "driver/run_driver.h"
#include "shell/shell.h"

HINSTANCE app_instance = nullptr;

namespace {

char score_text[100];
HCURSOR cursor_before_run = nullptr;

void set_control_text(HWND dialog, int id, const char* text) { SetWindowTextA(GetDlgItem(dialog, id), text); }

void run_once(HWND dialog) {
    select_module_label();

    const HCURSOR wait = LoadCursorA(app_instance, "WAITCURSOR");
    if (wait == nullptr) report_error(kNoWaitCursorText);
    cursor_before_run = SetCursor(wait);
    ShowCursor(TRUE);

    // The run blocks the message loop: paint the status before it starts.
    set_control_text(dialog, kStatusId, kRunningText);
    UpdateWindow(GetDlgItem(dialog, kStatusId));

    const RunOutcome outcome = run_benchmark();

    std::snprintf(score_text, sizeof score_text, kScoreFormat, outcome.score);
    set_control_text(dialog, kStatusId, score_text);

    ShowCursor(FALSE);
    SetCursor(cursor_before_run);
    step_module_label();
}

}  // namespace

INT_PTR CALLBACK processor_test_dialog(HWND dialog, UINT message, WPARAM first, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            set_control_text(dialog, kProgramNameId, product_title);
            set_control_text(dialog, kNoticeId, notice_line);
            set_control_text(dialog, kVersionId, version_text);
            set_control_text(dialog, kStatusId, kNotRunText);
            return TRUE;  // the system sets the default focus
        case WM_COMMAND:
            if (first == kRunTestId) {
                // Run once the click has been handled completely.
                PostMessageA(dialog, kRunMessage, 0, 0);
            } else if (first == kQuitId) {
                EndDialog(dialog, 0);
            }
            return 0;
        case kRunMessage:
            run_once(dialog);
            return 0;
        default:
            return 0;
    }
}

int run_dialog() {
    const INT_PTR result = DialogBoxParamA(app_instance, "PROCTEST", nullptr, processor_test_dialog, 0);
    return result < 0 ? -1 : 0;
}

void install_dialog() { set_dialog_runner(run_dialog); }
