// The programs ptrun runs: pt's copies, ptverify, sha256sum. Each starts in
// a process group of its own and is ended with that whole group, so what it
// starts in turn never outlives it; what it prints is read to a bound; every
// wait also wakes on a stop signal (system/signals.h).
#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <cstddef>
#include <ctime>
#include <string>
#include <vector>

namespace ptrun {

// How a program is started. Standard output and standard error each go to
// /dev/null or to the one pipe the process handle reads.
struct Launch {
    std::vector<std::string> command;  // the program first
    bool search_path = false;          // a program named without a folder is looked for in PATH
    std::string folder;                // where it starts; empty: where ptrun is
    int cpu = -1;                      // the one processor it may run on; -1: any
    std::string input = "/dev/null";   // the file on its standard input
    bool output_to_pipe = false, errors_to_pipe = false;
    bool end_with_ptrun = false;  // sent SIGTERM should ptrun end before it
};

// How a process ended, as the system reports it.
struct Ending {
    int status = 0;
    rusage usage{};
    int exit_code() const;  // -1 when a signal ended it
    int signal() const;     // 0 when it exited
};

// A started program. It moves but is never copied; a handle that goes away
// while its process runs ends the group first.
class Process {
  public:
    Process() = default;
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;
    Process(Process&& other) noexcept;
    Process& operator=(Process&& other) noexcept;
    ~Process();

    // Starts the program; false, and why in error, when it cannot be (no
    // input file, no pipe or no process). A program that cannot be run once
    // its process exists ends with exit code 127, saying why on standard error.
    bool start(const Launch& launch, std::string& error);

    pid_t pid() const { return pid_; }
    // The pipe's end ptrun reads, or -1: none asked for, or its writers gone.
    int pipe() const { return pipe_; }
    double seconds() const;  // since it was started

    // Appends what the pipe holds now to text, which keeps at most `kept`
    // bytes: the first of them, or the last with keep_last; cut tells that
    // more came than was kept.
    void read_pipe(std::string& text, std::size_t kept, bool keep_last, bool& cut);

    // Sends sig to the whole group (nothing once the group has gone).
    void signal_group(int sig) const;

    // Whether it has ended; then it is reaped into ending, after what is
    // left of its group is killed and reaped too.
    bool reap(Ending& ending);

  private:
    friend void end_all(const std::vector<Process*>& processes, double grace_s);
    void forget_group();

    pid_t pid_ = -1;
    int pipe_ = -1;
    bool reaped_ = false, group_gone_ = false;
    timespec started_{};
};

// Ends the processes' groups together: SIGTERM, SIGKILL to what is left
// after grace_s, and waits until each group is empty (three graces at most,
// for the process that cannot be killed) with each process reaped.
void end_all(const std::vector<Process*>& processes, double grace_s);

// Waits until one of the pipes has something or has closed, a child ends, a
// stop signal arrives, or seconds pass.
void wait_for(const std::vector<const Process*>& processes, double seconds);

// What a program printed on standard output, read to a bound, and how it
// ended. Started not at all once a stop signal has come, and ended at once
// (its whole group) on one, past its time or past the bound.
struct Captured {
    enum class End { exited, not_started, too_much, too_long, stopped };
    End end = End::not_started;
    std::string output;  // at most `kept` bytes
    Ending ending;       // when it exited
    std::string error;   // why it was not started
    bool succeeded() const { return end == End::exited && ending.exit_code() == 0; }
};
Captured capture(Launch launch, std::size_t kept, double seconds_allowed);

}  // namespace ptrun
