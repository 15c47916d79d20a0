// Small helpers shared by the test suites.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

struct ChildResult {
    int exit_code = -1;   // -1 when the child did not exit normally
    std::string out;      // standard output
    std::string err;      // standard error
};

// Runs program with args in directory dir, standard input from /dev/null,
// extra "NAME=value" entries added to the environment (a bare "NAME" removes
// the variable). With stderr_terminal
// the child's standard error is a pseudo-terminal (what it writes there must
// stay below a few kilobytes).
ChildResult run_child(const std::string& program, const std::vector<std::string>& args, const std::string& dir,
                      const std::vector<std::string>& environment = {}, bool stderr_terminal = false);

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& text);
bool file_exists(const std::string& path);

// A tick counter that advances by step at every reading, installed as the
// program's tick source by start(). With the default step of 2000 ms a run
// calibrates on 4 units, times 16 units in 2000 ms and scores 8.
namespace fake_clock {
extern std::uint32_t now;
extern std::uint32_t step;
extern int readings;
void start(std::uint32_t from = 0, std::uint32_t step_ms = 2000);
void stop();
}  // namespace fake_clock

// The shell settings (and what a run prints and asks) back to their values at
// process start; the argument copies are freed.
void reset_shell_settings();

// The shell settings as the program's start-up leaves them for this command
// line text.
void start_shell(const char* command_line);
