#include "run/validation.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <optional>
#include <sstream>

#include "build_info.h"
#include "driver/pinned_digests.h"
#include "run/runner.h"

namespace ptrun {

namespace {

constexpr int kVerifySecondsAllowed = 120;
constexpr std::size_t kVerifierOutputKept = 64 * 1024;

double monotonic_seconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// Starts command in a process group of its own, standard output to a pipe
// (returned in out), standard input and error /dev/null; -1 when it cannot.
pid_t start_verifier(const std::vector<std::string>& command, int& out) {
    std::vector<char*> args;
    for (const std::string& arg : command) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    int pipe_ends[2];
    if (pipe2(pipe_ends, O_CLOEXEC) != 0) return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        reset_child_signals();
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(pipe_ends[1], 1);
        dup2(null, 2);
        execv(args[0], args.data());
        _exit(127);
    }
    close(pipe_ends[1]);
    if (pid < 0) {
        close(pipe_ends[0]);
        return -1;
    }
    setpgid(pid, pid);  // also here: the group must exist before ptrun signals it
    fcntl(pipe_ends[0], F_SETFL, O_NONBLOCK);
    out = pipe_ends[0];
    return pid;
}

// Kills what is left in the group and waits, a few seconds at most, until it
// is gone: as ptrun's subreaper's orphans its members are reaped here.
void end_group(pid_t group) {
    kill(-group, SIGKILL);
    const double until = monotonic_seconds() + 3;
    while (!(kill(-group, 0) != 0 && errno == ESRCH) && monotonic_seconds() < until) {
        while (waitpid(-group, nullptr, WNOHANG) > 0) {
        }
        usleep(10000);
    }
}

// Reads what is there; false once the writers have gone.
bool read_available(int fd, std::string& text, bool& too_much) {
    char buffer[16384];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n < 0;
        text.append(buffer, static_cast<std::size_t>(n));
        if (text.size() > kVerifierOutputKept) {
            text.resize(kVerifierOutputKept);
            too_much = true;
            return true;
        }
    }
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

}  // namespace

Validation check_digests(const std::string& output) {
    const std::vector<std::string> pinned = lines_of(kPinnedDigests);
    const std::vector<std::string> got = lines_of(output);
    for (std::size_t i = 0; i < pinned.size(); ++i) {
        const std::string point = pinned[i].substr(0, pinned[i].rfind(' '));
        const std::string digest = pinned[i].substr(point.size() + 1);
        if (i >= got.size()) return {false, "ptverify printed no digest for " + point};
        if (got[i] == pinned[i]) continue;
        if (got[i].rfind(point + " ", 0) != 0) {
            return {false, "ptverify printed \"" + got[i] + "\" where the digest of " + point + " belongs"};
        }
        return {false, "the digest of " + point + " is " + got[i].substr(point.size() + 1) + ", the defined work's " +
                           digest + ": this build computes other work"};
    }
    if (got.size() != pinned.size()) return {false, "ptverify printed more than the digests asked for"};
    return {true, "ptverify's digests of the set-up and " + std::to_string(kPinnedUnits) +
                      " work units are those of the defined work"};
}

bool stop_signal_pending() {
    sigset_t pending;
    sigemptyset(&pending);
    sigpending(&pending);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        if (sigismember(&pending, sig) == 1) return true;
    }
    return false;
}

VerifierOutput verifier_output(const std::vector<std::string>& command, double seconds_allowed) {
    VerifierOutput result;
    int out = -1;
    const pid_t pid = start_verifier(command, out);
    if (pid < 0) {
        result.problem = "cannot be started";
        return result;
    }
    const double deadline = monotonic_seconds() + seconds_allowed;
    bool too_much = false, open = true, ended = false;
    int status = 0;
    while (!ended) {
        pollfd waited{out, POLLIN, 0};
        poll(&waited, open ? 1 : 0, 50);
        open = open && read_available(out, result.output, too_much);
        ended = waitpid(pid, &status, WNOHANG) == pid;
        if (ended) break;
        if (stop_signal_pending()) {
            result.interrupted = true;
        } else if (too_much) {
            result.problem = "printed more than " + std::to_string(kVerifierOutputKept / 1024) + " KiB";
        } else if (monotonic_seconds() >= deadline) {
            result.problem = "did not end within " + std::to_string(std::lround(seconds_allowed)) + " s";
        } else {
            continue;
        }
        kill(-pid, SIGKILL);  // the group: what it started goes with it
        waitpid(pid, &status, 0);
        ended = true;
    }
    if (open) read_available(out, result.output, too_much);
    close(out);
    end_group(pid);
    if (result.problem.empty() && too_much) {
        result.problem = "printed more than " + std::to_string(kVerifierOutputKept / 1024) + " KiB";
    }
    if (result.problem.empty() && !result.interrupted && (!WIFEXITED(status) || WEXITSTATUS(status) != 0)) {
        result.problem = "failed";
    }
    return result;
}

Validation validate_build(const Build& build) {
    if (build.verifier.empty()) {
        return {false,
                "no ptverify that answers --version beside pt or in ../tools of a build tree: the work cannot "
                "be checked"};
    }
    const VerifierOutput run =
        verifier_output({build.verifier, "--units", std::to_string(kPinnedUnits)}, kVerifySecondsAllowed);
    if (run.interrupted) return {false, "interrupted"};
    if (!run.problem.empty()) return {false, build.verifier + " " + run.problem};
    Validation validation = check_digests(run.output);
    if (!validation.validated && !build.info.version.empty() && build.info.version != PT_VERSION) {
        validation.why += " (pt " + build.info.version + " against the work of pt " + PT_VERSION + ")";
    }
    return validation;
}

bool validate_builds(std::vector<Build>& builds, bool allow_unvalidated) {
    bool refused = false;
    for (Build& build : builds) {
        const Validation validation = validate_build(build);
        build.validated = validation.validated;
        build.validation = validation.why;
        // The run that follows ends the call on the signal, as before any round.
        if (stop_signal_pending()) return true;
        if (build.validated) continue;
        if (allow_unvalidated) {
            std::fprintf(stderr, "ptrun: warning: build %s (%s) is not validated: %s; its figures are marked\n",
                         build.id.c_str(), build.path.c_str(), build.validation.c_str());
        } else {
            std::fprintf(stderr,
                         "ptrun: build %s (%s) is not validated: %s. Its scores would not be scores of pt's "
                         "work; --allow-unvalidated runs it anyway, its figures marked\n",
                         build.id.c_str(), build.path.c_str(), build.validation.c_str());
            refused = true;
        }
    }
    return !refused;
}

}  // namespace ptrun
