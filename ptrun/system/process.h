// The programs ptrun runs: pt's copies, ptverify, the digest of a build.
// Each starts with everything it starts in turn held together with it (a
// process group on POSIX, a job object on Windows) and is ended with all of
// it, so nothing it started outlives it; what it prints is read to a bound;
// every wait also wakes on a stop (system/signals.h).
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace ptrun {

// How a program is started. Standard output and standard error each go to
// the null device or to the one pipe the process handle reads.
struct Launch {
    std::vector<std::string> command;  // the program first
    bool search_path = false;          // a program named without a folder is looked for in PATH
    std::string folder;                // where it starts; empty: where ptrun is
    int cpu = -1;                      // the one logical processor it may run on (see usable_processors); -1: any
    std::string input;                 // the file on its standard input; empty: the null device
    bool output_to_pipe = false, errors_to_pipe = false;
    bool end_with_ptrun = false;  // ended should ptrun end before it, however ptrun ends
};

// How a process ended, and what it used.
struct Ending {
    int exit_code = -1;    // -1 when it did not exit by itself
    std::string ended_by;  // then what ended it: "signal 9", "status 0xC0000005", "ptrun"
    double processor_s = 0;               // user and system time
    long long involuntary_switches = 0;   // 0 where the system does not count them
};

// A started program. It moves but is never copied; a handle that goes away
// while its process runs ends it, and all it started, first.
class Process {
  public:
    struct State;  // the system's handles, in posix/ or win32/

    Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;
    Process(Process&& other) noexcept;
    Process& operator=(Process&& other) noexcept;
    ~Process();

    // Starts the program; false, and why in error, when it cannot be (no
    // input file, no pipe or no process). A program that cannot be run once
    // its process exists ends with exit code 127, saying why on standard
    // error (POSIX); on Windows start itself fails then.
    bool start(const Launch& launch, std::string& error);

    double seconds() const;  // since it was started

    // Appends what the pipe holds now to text, which keeps at most `kept`
    // bytes: the first of them, or the last with keep_last; cut tells that
    // more came than was kept.
    void read_pipe(std::string& text, std::size_t kept, bool keep_last, bool& cut);

    // Asks the program and all it started to end (SIGTERM on POSIX; on
    // Windows, where nothing gentler reaches a program without a console, it
    // is ended at once); then ends them whatever they do (SIGKILL). Nothing
    // once they have gone.
    void ask_to_end();
    void force_end();

    // Whether it has ended; then it is reaped into ending, after what is
    // left of what it started is ended too.
    bool reap(Ending& ending);

  private:
    friend void end_all(const std::vector<Process*>& processes, double grace_s);
    friend void wait_for(const std::vector<const Process*>& processes, double seconds);
    struct Free {
        void operator()(State* state) const;
    };
    std::unique_ptr<State, Free> state_;
};

// Ends the processes and all they started together: asked, then forced
// after grace_s, and waits until each is gone (three graces at most, for the
// process that cannot be ended) with each process reaped.
void end_all(const std::vector<Process*>& processes, double grace_s);

// Waits until one of the pipes has something or has closed, a child ends, a
// stop arrives, or seconds pass.
void wait_for(const std::vector<const Process*>& processes, double seconds);

// What a program printed on standard output, read to a bound, and how it
// ended. Started not at all once a stop has come, and ended at once (with
// all it started) on one, past its time or past the bound.
struct Captured {
    enum class End { exited, not_started, too_much, too_long, stopped };
    End end = End::not_started;
    std::string output;  // at most `kept` bytes
    Ending ending;       // when it exited
    std::string error;   // why it was not started
    bool succeeded() const { return end == End::exited && ending.exit_code == 0; }
};
Captured capture(Launch launch, std::size_t kept, double seconds_allowed);

}  // namespace ptrun
