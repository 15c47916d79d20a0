#include <cstdio>
#include <cstring>

#include "driver/run_driver.h"
#include "platform/platform.h"
#include "shell/shell.h"

namespace {

void result_file_failure(char* message, std::size_t size) {
    std::snprintf(message, size, "Can't write the result file %s.", result_file_name);
}

}  // namespace

void report_error(const char* text) {
    if (printing == 1) {
        std::printf("ERROR - %s\n", text);
    }
    if (unattended == 1) {
        bool recorded = profile_write_string("Test", "Note", nullptr, result_file_name);
        recorded = profile_write_string("Test", "Error", text, result_file_name) && recorded;
        recorded = profile_write_string("Test", "Result", nullptr, result_file_name) && recorded;
        recorded = profile_write_string(nullptr, nullptr, nullptr, result_file_name) && recorded;
        if (!recorded) {
            // The parent would find neither a result nor an error: the least
            // we owe a script is the message where it can see it.
            char message[512];
            result_file_failure(message, sizeof message);
            std::fprintf(stderr, "pt: %s\n", message);
            if (std::strcmp(message, text) != 0) std::fprintf(stderr, "pt: ERROR - %s\n", text);
        } else {
            char line[512];
            std::snprintf(line, sizeof line, "ERROR - %s", text);
            show_status(line);
        }
    } else {
        message_box(text, "Processor Test Error", kBoxErrorFlags);
    }
    exit_process(255);  // a normal exit, so the output file is flushed and closed
}

void write_result() {
    // Every header and score line must have reached the output file before
    // the result says the run succeeded; a full disk fails here, not silently
    // at exit. The flush also puts the lines out before the notification.
    const bool output_lost = std::fflush(stdout) != 0 || std::ferror(stdout) != 0;
    if (printing == 1 && output_lost) {
        char message[512];
        std::snprintf(message, sizeof message, "Can't write the output file %s.", output_file_name);
        report_error(message);
    }
    char text[64];
    bool written = profile_write_string("Test", "Note", nullptr, result_file_name);
    written = profile_write_string("Test", "Error", nullptr, result_file_name) && written;
    std::snprintf(text, sizeof text, "%.15g ", score);
    written = profile_write_string("Test", "Result", text, result_file_name) && written;
    written = profile_write_string(nullptr, nullptr, nullptr, result_file_name) && written;
    if (!written) {
        // Exiting 0 here would report a lost result as success.
        char message[512];
        result_file_failure(message, sizeof message);
        report_error(message);
    }
    notify_parent();
}

void notify_parent() {
    const std::int32_t message = profile_read_int("Parent", "Message", 0, result_file_name);
    if (message == 0) return;  // no display is even contacted
    const std::int32_t handle = profile_read_int("Parent", "WindowHandle", 0, result_file_name);
    WindowId window = static_cast<std::uint32_t>(handle);
    if (window == 0) {
        char title[100];
        profile_read_string("Parent", "WindowTitle", "", title, sizeof title, result_file_name);
        if (title[0] != '\0') window = find_window(title);
    }
    if (window != 0) post_message(window, static_cast<std::uint32_t>(message));
}
