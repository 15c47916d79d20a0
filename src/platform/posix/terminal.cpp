// Message boxes and status lines when no graphical front end is present.
#include "platform/platform.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

MessageBoxHandler box_handler = nullptr;
ExitHandler exit_handler = nullptr;

void terminal_message_box(const char* text, const char* caption, unsigned flags) {
    std::fprintf(stderr, "%s: %s\n", caption, text);
    // Only the information boxes (the /break prompts) pause the program, and
    // only when somebody can press Enter; an error box is on its way to the
    // exit anyway.
    if ((flags & kBoxIconInformation) != 0 && isatty(STDIN_FILENO)) {
        std::fputs("Press Enter to continue.", stderr);
        std::fflush(stderr);
        int c;
        do {
            c = std::getchar();
        } while (c != '\n' && c != EOF);
    }
}

}  // namespace

void message_box(const char* text, const char* caption, unsigned flags) {
    if (box_handler != nullptr) {
        box_handler(text, caption, flags);
    } else {
        terminal_message_box(text, caption, flags);
    }
}

void set_message_box_handler(MessageBoxHandler handler) { box_handler = handler; }

void show_status(const char* text) {
    if (isatty(STDERR_FILENO)) {
        std::fprintf(stderr, "pt: %s\n", text);
    }
}

void exit_process(int code) {
    if (exit_handler != nullptr) exit_handler(code);
    std::exit(code);
}

void set_exit_handler(ExitHandler handler) { exit_handler = handler; }

void prepare_unattended_run() {}
