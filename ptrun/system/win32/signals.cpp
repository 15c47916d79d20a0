// Stops on Windows: the console's control events. The system calls the
// handler on a thread of its own; it records the first stop and sets an
// event that every wait of ptrun's own thread also waits on. For the
// console's close, log-off and shut-down the system ends the process as
// soon as the handler returns, so the handler holds it until ptrun's own
// thread has ended the copies and written what finished (the system allows
// about five seconds).
#include "system/signals.h"

#include <atomic>

#include "system/win32/signals.h"

namespace ptrun {

namespace {

std::atomic<int> g_stop{0};
HANDLE g_event = nullptr;
bool g_taken = false;

BOOL WINAPI on_control(DWORD type) {
    int stop = kInterruptStop;
    if (type == CTRL_CLOSE_EVENT) stop = kHangUpStop;
    if (type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT) stop = kTerminateStop;
    int none = 0;
    g_stop.compare_exchange_strong(none, stop);
    SetEvent(g_event);
    if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT) {
        // The process ends when ptrun's own thread calls exit; until then the
        // system waits for this handler.
        Sleep(INFINITE);
    }
    return TRUE;
}

}  // namespace

void take_signals() {
    if (g_taken) return;
    g_taken = true;
    g_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(on_control, TRUE);
}

int stop_signal() {
    take_signals();
    return g_stop.load();
}

HANDLE stop_event() {
    take_signals();
    return g_event;
}

std::string error_text(DWORD code) {
    char text[512] = "";
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                                   sizeof text, nullptr);
    std::string said(text, n);
    while (!said.empty() && (said.back() == '\n' || said.back() == '\r' || said.back() == ' ' || said.back() == '.')) {
        said.pop_back();
    }
    return said.empty() ? "error " + std::to_string(code) : said;
}

}  // namespace ptrun
