// ptrun's commands. Each reads its arguments with its option table, prints its
// own --help, and returns the call's exit status; bad input it throws as
// UsageError, which main reports.
#pragma once

#include <string>
#include <vector>

namespace ptrun {

struct Arguments {
    std::vector<std::string> command_line;  // the whole of it, as given, for the record
    std::vector<std::string> args;          // those after the command's name
};

int run_command(const Arguments& arguments);
int compare_command(const Arguments& arguments);
int report_command(const Arguments& arguments);
int merge_command(const Arguments& arguments);
int history_command(const Arguments& arguments);

// The help of a run, which is also what ptrun does when no command is named.
std::string run_help();

}  // namespace ptrun
