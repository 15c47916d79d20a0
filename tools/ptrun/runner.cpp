#include "runner.h"

#include <fcntl.h>
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
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "driver/run_checks.h"
#include "machine.h"
#include "platform/platform.h"

namespace ptrun {

namespace {

constexpr double kExpectedRoundSeconds = 40.0;

double seconds_since(const timespec& start) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec - start.tv_sec) + static_cast<double>(now.tv_nsec - start.tv_nsec) / 1e9;
}

sigset_t watched_signals() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGCHLD}) sigaddset(&set, sig);
    return set;
}

// Starts one copy of pt in dir, pinned to its processor, with its messages
// going to a file of its own.
void start_copy(Run& run, const std::string& pt, const std::string& dir, const sigset_t& old_mask) {
    const std::string result = run.name() + ".ini";
    const std::string messages = dir + "/" + run.name() + ".err";
    const pid_t parent = getpid();
    clock_gettime(CLOCK_MONOTONIC, &run.started);
    run.started_utc = utc_now();
    run.pid = fork();
    if (run.pid < 0) {
        std::fprintf(stderr, "ptrun: cannot start pt: %s\n", std::strerror(errno));
        std::exit(1);
    }
    if (run.pid > 0) return;
    sigprocmask(SIG_SETMASK, &old_mask, nullptr);
    // A copy never outlives ptrun.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(127);
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(run.cpu, &set);
    const int in = open("/dev/null", O_RDONLY);
    const int out = open("/dev/null", O_WRONLY);
    const int err = open(messages.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0 || chdir(dir.c_str()) != 0) _exit(127);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    if (sched_setaffinity(0, sizeof set, &set) != 0) {
        std::fprintf(stderr, "ptrun: cannot pin to processor %d: %s\n", run.cpu, std::strerror(errno));
        _exit(127);
    }
    execl(pt.c_str(), pt.c_str(), result.c_str(), static_cast<char*>(nullptr));
    std::fprintf(stderr, "ptrun: cannot run %s: %s\n", pt.c_str(), std::strerror(errno));
    _exit(127);
}

void finish_copy(Run& run, int status, const rusage& usage, const std::string& dir) {
    run.finished = true;
    run.ended_utc = utc_now();
    run.wall_s = seconds_since(run.started);
    const double cpu_s = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    run.share = run.wall_s > 0 ? cpu_s / run.wall_s : 0;
    run.involuntary_switches = usage.ru_nivcsw;
    run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    run.low_share = run.share < kMinProcessorShare;

    std::istringstream lines(read_text(dir + "/" + run.name() + ".err"));
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(kShareWarningStart, 0) == 0) run.low_share = true;
        if (line.rfind(kSpeedWarningStart, 0) == 0) run.speed_changed = true;
        if (line.rfind("pt: warning: ", 0) == 0 || line.rfind("pt: note: ", 0) == 0) {
            run.messages.push_back(line.substr(4));
        } else if (run.exit_code != 0 && !line.empty()) {
            run.error += (run.error.empty() ? "" : " ") + line;
        }
    }
    const std::string result_file = dir + "/" + run.name() + ".ini";
    char text[1024];
    profile_read_string("Test", "Result", "", text, sizeof text, result_file.c_str());
    char* end = nullptr;
    run.score = std::strtod(text, &end);
    run.scored = run.exit_code == 0 && end != text && run.score > 0;
    profile_read_string("Test", "Error", "", text, sizeof text, result_file.c_str());
    if (text[0] != '\0') run.error = text;
    if (!run.scored && run.error.empty()) run.error = "pt wrote no result";
}

std::string duration(double seconds) {
    const long s = std::lround(std::max(seconds, 0.0));
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}

// Sends every copy still running a signal, and waits until all have gone.
void end_copies(std::vector<Run*>& running, const sigset_t& watched) {
    for (Run* run : running) kill(run->pid, SIGTERM);
    for (int tries = 0; !running.empty(); ++tries) {
        if (tries == 50) {
            for (Run* run : running) kill(run->pid, SIGKILL);
        }
        rusage usage{};
        int status = 0;
        const pid_t pid = wait4(-1, &status, WNOHANG, &usage);
        if (pid <= 0) {
            const timespec pause{0, 100000000};
            siginfo_t info;
            sigtimedwait(&watched, &info, &pause);
            continue;
        }
        std::erase_if(running, [pid](Run* run) { return run->pid == pid; });
    }
}

std::vector<RunFigure> figures_of(const std::vector<Run>& runs) {
    std::vector<RunFigure> figures;
    for (const Run& run : runs) {
        RunFigure figure;
        figure.build = build_id(run.build);
        figure.copies = run.copies;
        figure.round = run.round;
        figure.copy = run.copy;
        figure.warmup = run.warmup;
        figure.flagged = run.flagged();
        if (run.scored) figure.score = run.score;
        figures.push_back(figure);
    }
    return figures;
}

// The state of the round's processors, read once for all its copies while
// none runs, so that the reading takes nothing from a timed section.
void record_environment(std::vector<Run>& runs, std::size_t first, bool before) {
    std::vector<int> cpus;
    for (std::size_t i = first; i < runs.size(); ++i) cpus.push_back(runs[i].cpu);
    const Snapshot snapshot = read_snapshot(cpus);
    for (std::size_t i = first; i < runs.size(); ++i) {
        (before ? runs[i].environment_before : runs[i].environment_after) = only_cpu(snapshot, runs[i].cpu);
    }
}

}  // namespace

std::string Run::name() const {
    return "b" + std::to_string(build) + "-k" + std::to_string(copies) + "-r" + std::to_string(round) + "-c" +
           std::to_string(copy);
}

const char* outcome_name(Outcome outcome) {
    return outcome == Outcome::completed ? "completed" : outcome == Outcome::failed ? "failed" : "interrupted";
}

std::string utc_now() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    std::tm parts{};
    gmtime_r(&now.tv_sec, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

void run_all(const Settings& settings, const std::string& dir, Session& session) {
    // Children whose end is ignored are reaped by the system, and their
    // times with them: a parent that started ptrun that way is overruled.
    signal(SIGCHLD, SIG_DFL);
    const sigset_t watched = watched_signals();
    sigset_t old_mask;
    sigprocmask(SIG_BLOCK, &watched, &old_mask);
    const bool progress = isatty(STDERR_FILENO) != 0;
    Planner planner(settings);
    timespec call_start{};
    clock_gettime(CLOCK_MONOTONIC, &call_start);
    int round_number = 0;
    for (;;) {
        const std::optional<RoundPlan> plan =
            planner.next(rounds_of(figures_of(session.runs)), seconds_since(call_start));
        if (!plan) break;
        ++round_number;
        const std::size_t first = session.runs.size();
        for (int copy = 1; copy <= plan->copies; ++copy) {
            Run run;
            run.build = plan->build;
            run.copies = plan->copies;
            run.round = plan->round;
            run.copy = copy;
            run.warmup = plan->warmup;
            run.cpu = settings.cpus[static_cast<std::size_t>(copy - 1) % settings.cpus.size()];
            session.runs.push_back(run);
        }
        record_environment(session.runs, first, true);
        std::vector<Run*> running;
        for (std::size_t i = first; i < session.runs.size(); ++i) {
            start_copy(session.runs[i], settings.pts[plan->build], dir, old_mask);
            running.push_back(&session.runs[i]);
        }
        const timespec round_start = session.runs[first].started;
        while (!running.empty()) {
            if (progress) {
                double per_round = kExpectedRoundSeconds;
                if (!session.round_seconds.empty()) {
                    per_round = 0;
                    for (double s : session.round_seconds) per_round += s;
                    per_round /= static_cast<double>(session.round_seconds.size());
                }
                const int total_rounds = std::max(planner.expected_rounds(), round_number);
                const double left = per_round * (total_rounds - round_number + 1) - seconds_since(round_start);
                std::fprintf(stderr, "\rptrun: run %d of %d (%d %s), %s elapsed, about %s left\033[K", round_number,
                             total_rounds, plan->copies, plan->copies == 1 ? "copy" : "copies",
                             duration(seconds_since(call_start)).c_str(), duration(left).c_str());
                std::fflush(stderr);
            }
            const timespec tick{1, 0};
            siginfo_t info;
            const int sig = sigtimedwait(&watched, &info, &tick);
            if (sig == SIGINT || sig == SIGTERM || sig == SIGHUP) {
                session.outcome = Outcome::interrupted;
                session.interrupt_signal = sig;
                end_copies(running, watched);
                break;
            }
            rusage usage{};
            int status = 0;
            pid_t pid;
            while ((pid = wait4(-1, &status, WNOHANG, &usage)) > 0) {
                for (auto it = running.begin(); it != running.end(); ++it) {
                    if ((*it)->pid != pid) continue;
                    finish_copy(**it, status, usage, dir);
                    if (!(*it)->scored) session.outcome = Outcome::failed;
                    running.erase(it);
                    break;
                }
            }
            if (session.outcome == Outcome::failed) {
                end_copies(running, watched);
                break;
            }
        }
        record_environment(session.runs, first, false);
        if (progress) std::fputs("\r\033[K", stderr);
        if (session.outcome != Outcome::completed) {
            // Copies ended by ptrun did not finish; they are no figures.
            std::erase_if(session.runs, [](const Run& run) { return !run.finished; });
            session.stopped_because = session.outcome == Outcome::failed ? "a run failed" : "interrupted";
            return;
        }
        session.round_seconds.push_back(seconds_since(round_start));
    }
    session.stopped_because = planner.stopped_because();
}

}  // namespace ptrun
