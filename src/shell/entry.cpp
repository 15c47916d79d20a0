#include <cstdio>

#include "build_info.h"
#include "driver/run_driver.h"
#include "platform/platform.h"
#include "shell/shell.h"

namespace {

int no_dialog() { return -1; }

DialogRunner dialog_runner = no_dialog;

// Everything after the argument table has been filled.
int start_with_arguments() {
    printing = 0;
    parse_options();
    select_module_label();
    // Scores compare only between identical builds: say which this is.
    show_status(PT_BUILD_DESCRIPTION);
    if (unattended == 1) {
        prepare_unattended_run();
        run_benchmark();
        write_result();
        return 0;
    }
    if (dialog_runner() < 0) {
        // The box below says only what failed; whoever started pt from a
        // shell without a display wants to know how to run it anyway.
        std::fprintf(stderr, "pt: cannot show the window; pt results.ini runs the test without one\n");
        report_error("Cant Create DialogBox");
    }
    return 0;
}

}  // namespace

void set_dialog_runner(DialogRunner runner) { dialog_runner = runner != nullptr ? runner : no_dialog; }

int pt_entry(const char* command_line_text) {
    split_command_line(command_line_text);
    return start_with_arguments();
}

int pt_entry_arguments(int count, const char* const* args) {
    store_arguments(count, args);
    return start_with_arguments();
}
