// Program shell: start-up settings, the command line and the result file.
// The shell also defines report_error, whose header is workload/report_error.h.
#pragma once

#include <cstdint>

#include "driver/run_driver.h"
#include "workload/report_error.h"

inline constexpr int kArgTableSize = 20;          // entry 0 and 19 arguments
inline constexpr int kOutputFileNameSize = 80;    // 79 characters and the NUL

// ---- Shell settings, written at start-up -------------------------------------
// (What a run prints and asks is the run driver's; the shell sets it too.)
extern const char* arg_table[kArgTableSize];
extern std::int32_t arg_count;
extern bool arg_table_overflow;  // the command line held more than 19 arguments
extern char output_file_name[kOutputFileNameSize];
extern const char* result_file_name;
extern std::int32_t module_number;
extern std::int32_t unattended;
extern std::int32_t label_stepping;

// ---- Command line -----------------------------------------------------------
// The Windows entry receives one command-line text and splits it; the POSIX
// entry already has the arguments apart and stores each one whole.
void split_command_line(const char* text);
void store_arguments(int count, const char* const* args);
void parse_options();
void select_module_label();

// After a run in the window: with /test=0 the label steps through the modules
// 1, 3, 4, 5, 6 and 7 (module 2 has no workload of its own), and stepping
// ends when it reaches 8, "All modules".
void step_module_label();

// The label of a module number from 1 to 9, or nullptr.
const char* module_label_for(std::int32_t number);

// The program entry proper: everything that follows the program name on the
// command line, as one text. Returns the exit code.
int pt_entry(const char* command_line_text);
// The same for arguments the caller has already split (argv without the
// program name).
int pt_entry_arguments(int count, const char* const* args);

// ---- The result file ---------------------------------------------------------
// (report_error, the error path, has a header of its own.)

// Records the last run's score in the result file and notifies a waiting parent program.
void write_result();

// What the result writer does after the score has reached the file: reads
// the "Parent" section and posts the message when it names one.
void notify_parent();

// Shows the interactive front end; returns a negative value when it cannot
// be created. Builds without a window system use the one that always fails.
using DialogRunner = int (*)();
void set_dialog_runner(DialogRunner runner);
