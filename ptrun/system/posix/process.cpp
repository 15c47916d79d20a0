// Child processes on POSIX: each in a process group of its own, ended with
// that whole group; ptrun is their subreaper, so what a child leaves behind
// comes back to ptrun to be reaped.
#include "system/process.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

#include "system/posix/signals.h"
#include "system/signals.h"

namespace ptrun {

struct Process::State {
    pid_t pid = -1;
    int pipe = -1;
    bool reaped = false, group_gone = false;
    timespec started{};
};

void Process::Free::operator()(State* state) const {
    if (state->pipe >= 0) close(state->pipe);
    delete state;
}

namespace {

double monotonic_seconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

bool group_gone(pid_t group) { return kill(-group, 0) != 0 && errno == ESRCH; }

// Reaps the ended members of a group: as ptrun's subreaper's orphans they
// come to ptrun. False while the group still has a member.
bool collect_group(pid_t group) {
    while (waitpid(-group, nullptr, WNOHANG) > 0) {
    }
    return group_gone(group);
}

// In the child: the descriptors, folder and processor asked for, then the
// program. Only what is safe between fork and exec.
[[noreturn]] void become(const Launch& launch, const std::vector<char*>& args, pid_t parent, int input, int null,
                         int pipe_end) {
    setpgid(0, 0);
    reset_child_signals();
    if (launch.end_with_ptrun) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(127);  // ptrun is gone already
    }
    dup2(input, 0);
    dup2(launch.output_to_pipe ? pipe_end : null, 1);
    dup2(launch.errors_to_pipe ? pipe_end : null, 2);
    if (!launch.folder.empty() && chdir(launch.folder.c_str()) != 0) {
        std::fprintf(stderr, "ptrun: cannot enter %s: %s\n", launch.folder.c_str(), std::strerror(errno));
        _exit(127);
    }
    if (launch.cpu >= 0) {
        cpu_set_t set;
        CPU_ZERO(&set);
        CPU_SET(launch.cpu, &set);
        if (sched_setaffinity(0, sizeof set, &set) != 0) {
            std::fprintf(stderr, "ptrun: cannot pin to processor %d: %s\n", launch.cpu, std::strerror(errno));
            _exit(127);
        }
    }
    if (launch.search_path) {
        execvp(args[0], args.data());
    } else {
        execv(args[0], args.data());
    }
    std::fprintf(stderr, "ptrun: cannot run %s: %s\n", args[0], std::strerror(errno));
    _exit(127);
}

void close_fd(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

}  // namespace

bool Process::start(const Launch& launch, std::string& error) {
    take_signals();  // a child's end then wakes a wait, and a stop signal waits to be read
    if (launch.command.empty()) {
        error = "no program named";
        return false;
    }
    std::vector<char*> args;
    for (const std::string& arg : launch.command) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    const std::string input_file = launch.input.empty() ? "/dev/null" : launch.input;
    int input = open(input_file.c_str(), O_RDONLY | O_CLOEXEC);
    int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    int ends[2] = {-1, -1};
    const bool piped = launch.output_to_pipe || launch.errors_to_pipe;
    if (input < 0 || null < 0 || (piped && pipe2(ends, O_CLOEXEC) != 0)) {
        error = "cannot open " + (input < 0 ? input_file : std::string("a pipe")) + ": " + std::strerror(errno);
        close_fd(input);
        close_fd(null);
        return false;
    }
    const pid_t parent = getpid();
    timespec started{};
    clock_gettime(CLOCK_MONOTONIC, &started);
    const pid_t pid = fork();
    if (pid == 0) become(launch, args, parent, input, null, ends[1]);
    const int fork_error = errno;
    close_fd(input);
    close_fd(null);
    close_fd(ends[1]);
    if (pid < 0) {
        close_fd(ends[0]);
        error = std::string("cannot start a process: ") + std::strerror(fork_error);
        return false;
    }
    setpgid(pid, pid);  // also here: the group must exist before ptrun signals it
    if (ends[0] >= 0) fcntl(ends[0], F_SETFL, O_NONBLOCK);
    if (state_) end_all({this}, 0);
    state_.reset(new State{pid, ends[0], false, false, started});
    return true;
}

double Process::seconds() const {
    if (!state_) return 0;
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec - state_->started.tv_sec) +
           static_cast<double>(now.tv_nsec - state_->started.tv_nsec) / 1e9;
}

void Process::read_pipe(std::string& text, std::size_t kept, bool keep_last, bool& cut) {
    char buffer[16384];
    while (state_ && state_->pipe >= 0) {
        const ssize_t n = read(state_->pipe, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) close_fd(state_->pipe);  // every writer has gone: a closed pipe would wake each wait at once
        if (n <= 0) return;
        const auto got = static_cast<std::size_t>(n);
        if (keep_last) {
            text.append(buffer, got);
            if (text.size() > kept) {
                text.erase(0, text.size() - kept);
                cut = true;
            }
        } else {
            const std::size_t room = kept > text.size() ? kept - text.size() : 0;
            text.append(buffer, std::min(room, got));
            cut = cut || got > room;
            if (cut) return;  // what follows is not kept: the caller decides whether to read on
        }
    }
}

namespace {

void signal_group(Process::State& state, int sig) {
    if (state.pid > 0 && !state.group_gone) kill(-state.pid, sig);
}

void forget_group(Process::State& state) {
    state.group_gone = true;
    close_fd(state.pipe);
}

}  // namespace

void Process::ask_to_end() {
    if (state_) signal_group(*state_, SIGTERM);
}

void Process::force_end() {
    if (state_) signal_group(*state_, SIGKILL);
}

bool Process::reap(Ending& ending) {
    if (!state_ || state_->pid <= 0 || state_->reaped) return state_ && state_->reaped;
    State& state = *state_;
    siginfo_t ended{};
    if (waitid(P_PID, static_cast<id_t>(state.pid), &ended, WEXITED | WNOHANG | WNOWAIT) != 0 ||
        ended.si_pid != state.pid) {
        return false;
    }
    // Looked at before it is reaped, so that the group is still there:
    // whatever the process left in it goes with it.
    kill(-state.pid, SIGKILL);
    int status = 0;
    rusage usage{};
    if (wait4(state.pid, &status, 0, &usage) != state.pid) return false;
    ending.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    ending.ended_by = WIFSIGNALED(status) ? "signal " + std::to_string(WTERMSIG(status)) : "";
    ending.processor_s = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    ending.involuntary_switches = usage.ru_nivcsw;
    state.reaped = true;
    const double until = monotonic_seconds() + 3;
    while (!collect_group(state.pid) && monotonic_seconds() < until) usleep(2000);
    state.group_gone = true;
    return true;
}

void end_all(const std::vector<Process*>& processes, double grace_s) {
    std::vector<Process::State*> left;
    for (Process* process : processes) {
        Process::State* state = process->state_.get();
        if (state == nullptr || state->pid <= 0 || state->group_gone) continue;
        close_fd(state->pipe);
        signal_group(*state, SIGTERM);
        left.push_back(state);
    }
    const double start = monotonic_seconds();
    bool killed = false;
    while (!left.empty()) {
        for (Process::State* state : left) {
            if (state->reaped) continue;
            const pid_t got = waitpid(state->pid, nullptr, WNOHANG);
            state->reaped = got == state->pid || (got < 0 && errno == ECHILD);
        }
        std::erase_if(left, [](Process::State* state) {
            if (!state->reaped || !collect_group(state->pid)) return false;
            forget_group(*state);
            return true;
        });
        const double waited = monotonic_seconds() - start;
        if (!killed && waited >= grace_s) {
            for (Process::State* state : left) signal_group(*state, SIGKILL);
            killed = true;
        }
        if (waited >= 3 * std::max(grace_s, 1.0)) break;  // unkillable: nothing more ptrun can do
        if (!left.empty()) wait_for({}, 0.02);
    }
}

void wait_for(const std::vector<const Process*>& processes, double seconds) {
    std::vector<pollfd> waited{{signal_descriptor(), POLLIN, 0}};
    for (const Process* process : processes) {
        if (process->state_ && process->state_->pipe >= 0) waited.push_back({process->state_->pipe, POLLIN, 0});
    }
    int ms = static_cast<int>(std::ceil(std::clamp(seconds, 0.0, 3600.0) * 1000));
    if (waited[0].fd < 0) {  // no signal descriptor: nothing wakes the wait when a child ends
        waited.erase(waited.begin());
        ms = std::min(ms, 50);
    }
    poll(waited.data(), waited.size(), ms);
    stop_signal();  // reads what arrived, so that the descriptor does not stay readable
}

}  // namespace ptrun
