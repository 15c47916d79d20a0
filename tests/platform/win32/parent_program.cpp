// A parent program as a user of pt would write one: it names its window in
// the result file's "Parent" section, starts pt.exe unattended, and waits for
// the posted message. Checks that the message arrives with both parameters
// 0, that the score is in the file by then, and that pt exits with 0.
//
//   pt_parent_test.exe PT_EXE RESULT_FILE [more arguments for pt]
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

constexpr UINT kResultReady = WM_APP + 7;
constexpr DWORD kPatienceMs = 10 * 60 * 1000;

int checks = 0;
int failures = 0;

void check(bool ok, const char* what) {
    std::printf("%s: %s\n", ok ? "ok" : "FAILED", what);
    ++checks;
    if (!ok) ++failures;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: pt_parent_test PT_EXE RESULT_FILE [arguments]\n");
        return 2;
    }
    char result_file[MAX_PATH];
    GetFullPathNameA(argv[2], sizeof result_file, result_file, nullptr);

    char title[64];
    std::snprintf(title, sizeof title, "pt parent %lu", GetCurrentProcessId());
    const HWND window = CreateWindowA("STATIC", title, WS_OVERLAPPED, 0, 0, 100, 100, nullptr, nullptr,
                                      GetModuleHandleA(nullptr), nullptr);
    if (window == nullptr) {
        std::fprintf(stderr, "cannot create the parent window\n");
        return 2;
    }
    char number[16];
    std::snprintf(number, sizeof number, "%u", kResultReady);
    WritePrivateProfileStringA("Parent", "Message", number, result_file);
    WritePrivateProfileStringA("Parent", "WindowTitle", title, result_file);
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, result_file);

    std::string command = std::string("\"") + argv[1] + "\" \"" + argv[2] + "\"";
    for (int i = 3; i < argc; ++i) command += std::string(" ") + argv[i];
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child)) {
        std::fprintf(stderr, "cannot start %s\n", command.c_str());
        return 2;
    }

    // Wait for the message; the run takes a little over 40 seconds.
    const DWORD start = GetTickCount();
    bool received = false;
    MSG message{};
    char result_when_notified[100] = "";
    while (!received && GetTickCount() - start < kPatienceMs) {
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == kResultReady) {
                received = true;
                check(message.hwnd == window, "the message went to the window named by its title");
                check(message.wParam == 0 && message.lParam == 0, "both message parameters are 0");
                GetPrivateProfileStringA("Test", "Result", "", result_when_notified, sizeof result_when_notified,
                                         result_file);
                break;
            }
            DispatchMessageA(&message);
        }
        if (!received) MsgWaitForMultipleObjects(0, nullptr, FALSE, 500, QS_ALLINPUT);
    }
    check(received, "the posted message arrived");
    check(result_when_notified[0] != '\0', "the score was in the result file when the message arrived");
    std::printf("Result=%s\n", result_when_notified);

    WaitForSingleObject(child.hProcess, kPatienceMs);
    DWORD code = 1;
    GetExitCodeProcess(child.hProcess, &code);
    check(code == 0, "pt exited with 0");
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    DestroyWindow(window);
    std::printf("%d passed, %d failed\n", checks - failures, failures);
    return failures == 0 ? 0 : 1;
}
