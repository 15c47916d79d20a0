#include "system/process.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

#include "system/signals.h"

namespace ptrun {

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

int Ending::exit_code() const { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

int Ending::signal() const { return WIFSIGNALED(status) ? WTERMSIG(status) : 0; }

Process::Process(Process&& other) noexcept { *this = std::move(other); }

Process& Process::operator=(Process&& other) noexcept {
    if (this == &other) return *this;
    if (pid_ > 0) end_all({this}, 0);
    close_fd(pipe_);
    pid_ = std::exchange(other.pid_, -1);
    pipe_ = std::exchange(other.pipe_, -1);
    reaped_ = other.reaped_;
    group_gone_ = other.group_gone_;
    started_ = other.started_;
    return *this;
}

Process::~Process() {
    if (pid_ > 0) end_all({this}, 0);
    close_fd(pipe_);
}

bool Process::start(const Launch& launch, std::string& error) {
    take_signals();  // a child's end then wakes a wait, and a stop signal waits to be read
    if (launch.command.empty()) {
        error = "no program named";
        return false;
    }
    std::vector<char*> args;
    for (const std::string& arg : launch.command) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    int input = open(launch.input.c_str(), O_RDONLY | O_CLOEXEC);
    int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    int ends[2] = {-1, -1};
    const bool piped = launch.output_to_pipe || launch.errors_to_pipe;
    if (input < 0 || null < 0 || (piped && pipe2(ends, O_CLOEXEC) != 0)) {
        error = "cannot open " + (input < 0 ? launch.input : std::string("a pipe")) + ": " + std::strerror(errno);
        close_fd(input);
        close_fd(null);
        return false;
    }
    const pid_t parent = getpid();
    clock_gettime(CLOCK_MONOTONIC, &started_);
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
    pid_ = pid;
    pipe_ = ends[0];
    reaped_ = group_gone_ = false;
    return true;
}

double Process::seconds() const {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec - started_.tv_sec) +
           static_cast<double>(now.tv_nsec - started_.tv_nsec) / 1e9;
}

void Process::read_pipe(std::string& text, std::size_t kept, bool keep_last, bool& cut) {
    char buffer[16384];
    while (pipe_ >= 0) {
        const ssize_t n = read(pipe_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) close_fd(pipe_);  // every writer has gone: a closed pipe would wake each wait at once
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

void Process::signal_group(int sig) const {
    if (pid_ > 0 && !group_gone_) kill(-pid_, sig);
}

void Process::forget_group() {
    group_gone_ = true;
    close_fd(pipe_);
}

bool Process::reap(Ending& ending) {
    if (pid_ <= 0 || reaped_) return reaped_;
    siginfo_t ended{};
    if (waitid(P_PID, static_cast<id_t>(pid_), &ended, WEXITED | WNOHANG | WNOWAIT) != 0 || ended.si_pid != pid_) {
        return false;
    }
    // Looked at before it is reaped, so that the group is still there:
    // whatever the process left in it goes with it.
    kill(-pid_, SIGKILL);
    if (wait4(pid_, &ending.status, 0, &ending.usage) != pid_) return false;
    reaped_ = true;
    const double until = monotonic_seconds() + 3;
    while (!collect_group(pid_) && monotonic_seconds() < until) usleep(2000);
    group_gone_ = true;
    return true;
}

void end_all(const std::vector<Process*>& processes, double grace_s) {
    std::vector<Process*> left;
    for (Process* process : processes) {
        if (process->pid_ <= 0 || process->group_gone_) continue;
        close_fd(process->pipe_);
        process->signal_group(SIGTERM);
        left.push_back(process);
    }
    const double start = monotonic_seconds();
    bool killed = false;
    while (!left.empty()) {
        for (Process* process : left) {
            Ending ignored;
            if (process->reaped_) continue;
            const pid_t got = waitpid(process->pid_, &ignored.status, WNOHANG);
            process->reaped_ = got == process->pid_ || (got < 0 && errno == ECHILD);
        }
        std::erase_if(left, [](Process* process) {
            if (!process->reaped_ || !collect_group(process->pid_)) return false;
            process->forget_group();
            return true;
        });
        const double waited = monotonic_seconds() - start;
        if (!killed && waited >= grace_s) {
            for (Process* process : left) process->signal_group(SIGKILL);
            killed = true;
        }
        if (waited >= 3 * std::max(grace_s, 1.0)) break;  // unkillable: nothing more ptrun can do
        if (!left.empty()) wait_for({}, 0.02);
    }
}

void wait_for(const std::vector<const Process*>& processes, double seconds) {
    std::vector<pollfd> waited{{signal_descriptor(), POLLIN, 0}};
    for (const Process* process : processes) {
        if (process->pipe() >= 0) waited.push_back({process->pipe(), POLLIN, 0});
    }
    int ms = static_cast<int>(std::ceil(std::clamp(seconds, 0.0, 3600.0) * 1000));
    if (waited[0].fd < 0) {  // no signal descriptor: nothing wakes the wait when a child ends
        waited.erase(waited.begin());
        ms = std::min(ms, 50);
    }
    poll(waited.data(), waited.size(), ms);
    stop_signal();  // reads what arrived, so that the descriptor does not stay readable
}

Captured capture(Launch launch, std::size_t kept, double seconds_allowed) {
    Captured captured;
    if (stop_signal() != 0) {
        captured.end = Captured::End::stopped;
        return captured;
    }
    launch.output_to_pipe = true;
    Process process;
    if (!process.start(launch, captured.error)) return captured;
    bool cut = false;
    for (;;) {
        process.read_pipe(captured.output, kept, false, cut);
        if (process.reap(captured.ending)) {
            process.read_pipe(captured.output, kept, false, cut);  // what it wrote just before it ended
            captured.end = cut ? Captured::End::too_much : Captured::End::exited;
            break;
        }
        const double left = seconds_allowed - process.seconds();
        if (stop_signal() != 0) {
            captured.end = Captured::End::stopped;
        } else if (cut) {
            captured.end = Captured::End::too_much;
        } else if (left <= 0) {
            captured.end = Captured::End::too_long;
        } else {
            wait_for({&process}, left);
            continue;
        }
        end_all({&process}, 0);
        break;
    }
    return captured;
}

}  // namespace ptrun
