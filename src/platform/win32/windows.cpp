// Message boxes, the end of the process, status lines and the parent
// notification, with the window system's own calls.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "platform/platform.h"

namespace {

MessageBoxHandler box_handler = nullptr;
ExitHandler exit_handler = nullptr;

HWND as_window(WindowId window) { return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(window)); }

}  // namespace

void message_box(const char* text, const char* caption, unsigned flags) {
    if (box_handler != nullptr) {
        box_handler(text, caption, flags);
    } else {
        MessageBoxA(nullptr, text, caption, flags);
    }
}

void set_message_box_handler(MessageBoxHandler handler) { box_handler = handler; }

void exit_process(int code) {
    if (exit_handler != nullptr) exit_handler(code);
    std::exit(code);
}

void set_exit_handler(ExitHandler handler) { exit_handler = handler; }

void prepare_unattended_run() {
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
}

void show_status(const char* text) {
    // A program without a console has standard error only when it was
    // started from one (or from a terminal under an emulation layer).
    if (GetFileType(GetStdHandle(STD_ERROR_HANDLE)) == FILE_TYPE_CHAR) {
        std::fprintf(stderr, "pt: %s\n", text);
    }
}

WindowId find_window(const char* title) {
    if (title == nullptr || title[0] == '\0') return 0;
    return reinterpret_cast<std::uintptr_t>(FindWindowA(nullptr, title));
}

void post_message(WindowId window, std::uint32_t message) {
    if (window == 0) return;
    PostMessageA(as_window(window), message, 0, 0);
}
