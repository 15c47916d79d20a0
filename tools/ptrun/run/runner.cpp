#include "run/runner.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "driver/run_checks.h"
#include "run/machine.h"
#include "system/output.h"
#include "platform/platform.h"

namespace ptrun {

namespace {

constexpr double kExpectedRoundSeconds = 40.0;

double seconds_since(const timespec& start) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec - start.tv_sec) + static_cast<double>(now.tv_nsec - start.tv_nsec) / 1e9;
}

constexpr std::size_t kMessagesKept = 64 * 1024;
constexpr double kGraceSeconds = 5;

// The signals that end the call, those ignored when ptrun started left out
// (under nohup a hang-up stays ignored); SIGCHLD wakes the wait.
sigset_t g_watched;
bool g_signals_taken = false;

const sigset_t& watched_signals() {
    if (!g_signals_taken) take_signals();
    return g_watched;
}

// A stop signal that has arrived, or 0.
int pending_stop() {
    sigset_t stops = watched_signals();
    sigdelset(&stops, SIGCHLD);
    const timespec now{0, 0};
    siginfo_t info;
    const int sig = sigtimedwait(&stops, &info, &now);
    return sig > 0 ? sig : 0;
}

bool group_gone(pid_t group) { return kill(-group, 0) != 0 && errno == ESRCH; }

// Starts one copy of pt in dir, in a process group of its own, pinned to its
// processor, with its messages going to a pipe that ptrun reads as they come.
void start_copy(Run& run, const std::string& pt, const std::string& dir) {
    const std::string result = run.name() + ".ini";
    const pid_t parent = getpid();
    int messages[2];
    if (pipe2(messages, O_CLOEXEC) != 0) {
        std::fprintf(stderr, "ptrun: cannot start pt: %s\n", std::strerror(errno));
        std::exit(1);
    }
    // A result file left by an earlier call in --keep DIR would be credited
    // to this copy; the child refuses to start when it cannot be removed.
    unlink((dir + "/" + result).c_str());
    clock_gettime(CLOCK_MONOTONIC, &run.started);
    run.started_utc = utc_now();
    run.pid = fork();
    if (run.pid < 0) {
        std::fprintf(stderr, "ptrun: cannot start pt: %s\n", std::strerror(errno));
        std::exit(1);
    }
    if (run.pid > 0) {
        setpgid(run.pid, run.pid);  // also here: the group must exist before ptrun signals it
        close(messages[1]);
        fcntl(messages[0], F_SETFL, O_NONBLOCK);
        run.messages_fd = messages[0];
        return;
    }
    setpgid(0, 0);
    reset_child_signals();
    // A copy never outlives ptrun.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(127);
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(run.cpu, &set);
    const int in = open("/dev/null", O_RDONLY);
    const int out = open("/dev/null", O_WRONLY);
    if (in < 0 || out < 0 || chdir(dir.c_str()) != 0) _exit(127);
    dup2(in, 0);
    dup2(out, 1);
    dup2(messages[1], 2);
    if (access(result.c_str(), F_OK) == 0 || errno != ENOENT) {
        std::fprintf(stderr, "ptrun: cannot remove the earlier result file %s/%s\n", dir.c_str(), result.c_str());
        _exit(127);
    }
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
    read_messages(run);
    close(run.messages_fd);
    run.messages_fd = -1;
    std::string tail = std::move(run.raw_messages);
    if (run.messages_cut) {
        const std::size_t line_end = tail.find('\n');  // the first line is only part of one
        tail.erase(0, line_end == std::string::npos ? tail.size() : line_end + 1);
    }
    // What --keep keeps: the messages as read.
    const int kept = open((dir + "/" + run.name() + ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, 0644);
    if (kept >= 0) {
        std::string ignored;
        write_all(kept, tail, ignored);
        close(kept);
    }
    run.raw_messages.clear();
    std::istringstream lines(tail);
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
    const std::string problem = score_problem(text, run.score);
    run.scored = run.exit_code == 0 && run.signal == 0 && problem.empty() && !run.timed_out;
    profile_read_string("Test", "Error", "", text, sizeof text, result_file.c_str());
    if (text[0] != '\0') run.error = text;
    if (run.timed_out) {
        run.error = "ended by ptrun after the --timeout of " + std::to_string(std::lround(run.timeout_s)) + " s";
    } else if (!run.scored && run.error.empty()) {
        run.error = problem.empty() ? "pt did not end well" : problem;
    }
}

std::string duration(double seconds) {
    const long s = std::lround(std::max(seconds, 0.0));
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}

// Ends the process group of every copy still running, and waits until each
// group is empty: a pt that is a wrapper leaves nothing running either.
void end_copies(std::vector<Run*>& running) {
    std::vector<pid_t> groups;
    for (Run* run : running) {
        groups.push_back(run->pid);
        close(run->messages_fd);
        run->messages_fd = -1;
    }
    for (pid_t group : groups) kill(-group, SIGTERM);
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    bool killed = false;
    for (;;) {
        rusage usage{};
        int status = 0;
        pid_t pid;
        // ptrun is a subreaper: the copies' orphans come here to be reaped.
        while ((pid = wait4(-1, &status, WNOHANG, &usage)) > 0) {
            std::erase_if(running, [pid](Run* run) { return run->pid == pid; });
        }
        std::erase_if(groups, group_gone);
        if (groups.empty() && running.empty()) return;
        const double waited = seconds_since(start);
        if (!killed && waited >= kGraceSeconds) {
            for (pid_t group : groups) kill(-group, SIGKILL);
            killed = true;
        }
        if (waited >= 3 * kGraceSeconds) return;  // unkillable: nothing more ptrun can do
        const timespec pause{0, 50000000};
        siginfo_t info;
        sigtimedwait(&g_watched, &info, &pause);
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

void take_signals() {
    sigemptyset(&g_watched);
    sigaddset(&g_watched, SIGCHLD);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction old {};
        if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler != SIG_IGN) sigaddset(&g_watched, sig);
    }
    sigprocmask(SIG_BLOCK, &g_watched, nullptr);
    g_signals_taken = true;
    // A lost standard output is an error ptrun reports, not a way to die.
    signal(SIGPIPE, SIG_IGN);
    // Children whose end is ignored are reaped by the system, and their
    // times with them: a parent that started ptrun that way is overruled.
    signal(SIGCHLD, SIG_DFL);
    prctl(PR_SET_CHILD_SUBREAPER, 1);
}

void reset_child_signals() {
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    signal(SIGPIPE, SIG_DFL);
}

void read_messages(Run& run) {
    char buffer[16384];
    while (run.messages_fd >= 0) {
        const ssize_t n = read(run.messages_fd, buffer, sizeof buffer);
        if (n == 0) {  // every writer has gone: a closed pipe would wake the wait at once, again and again
            close(run.messages_fd);
            run.messages_fd = -1;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;  // nothing more now
        run.raw_messages.append(buffer, static_cast<std::size_t>(n));
        if (run.raw_messages.size() > kMessagesKept) {
            run.raw_messages.erase(0, run.raw_messages.size() - kMessagesKept);
            run.messages_cut = true;
        }
    }
}

std::string score_problem(const std::string& text, double& score) {
    score = 0;
    if (text.find_first_not_of(" \t") == std::string::npos) return "pt wrote no result";
    errno = 0;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    const bool whole = end != text.c_str() && std::string(end).find_first_not_of(" \t\r") == std::string::npos;
    if (!whole || errno == ERANGE || !std::isfinite(value) || value <= 0) {
        return "pt's Result \"" + text + "\" is not a finite positive number";
    }
    if (value > kMaxScore) {
        char limit[32];
        std::snprintf(limit, sizeof limit, "%.3g", kMaxScore);
        return "pt's Result \"" + text + "\" is above " + limit + ", the most ptrun can add up and spread over rounds";
    }
    score = value;
    return "";
}

double copy_limit_s(const Settings& settings, int copies) {
    if (settings.timeout_s > 0) return settings.timeout_s;
    // Copies that share processors take longer by as much.
    const auto cpus = static_cast<int>(std::max<std::size_t>(settings.cpus.size(), 1));
    return kDefaultTimeoutSeconds * ((copies + cpus - 1) / cpus);
}

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

namespace {

// The round's copies, queued in the session: the copy numbers in order, each
// on its processor, with the time limit of its copy count.
std::size_t queue_copies(const Settings& settings, const RoundPlan& plan, Session& session) {
    const std::size_t first = session.runs.size();
    for (int copy = 1; copy <= plan.copies; ++copy) {
        Run run;
        run.build = plan.build;
        run.copies = plan.copies;
        run.round = plan.round;
        run.copy = copy;
        run.warmup = plan.warmup;
        run.cpu = settings.cpus[static_cast<std::size_t>(copy - 1) % settings.cpus.size()];
        run.timeout_s = copy_limit_s(settings, plan.copies);
        session.runs.push_back(run);
    }
    return first;
}

// Where the call stands, on one line of a terminal, from the rounds so far.
void show_progress(const Session& session, int round_number, int total_rounds, int copies, double call_s,
                   double round_s) {
    double per_round = kExpectedRoundSeconds;
    if (!session.round_seconds.empty()) {
        per_round = 0;
        for (double s : session.round_seconds) per_round += s;
        per_round /= static_cast<double>(session.round_seconds.size());
    }
    const double left = per_round * (total_rounds - round_number + 1) - round_s;
    std::fprintf(stderr, "\rptrun: run %d of %d (%d %s), %s elapsed, about %s left\033[K", round_number, total_rounds,
                 copies, copies == 1 ? "copy" : "copies", duration(call_s).c_str(), duration(left).c_str());
    std::fflush(stderr);
}

// A copy past its limit is asked to end, and made to after the grace.
void enforce_limits(const std::vector<Run*>& running) {
    for (Run* run : running) {
        const double ran = seconds_since(run->started);
        if (!run->timed_out && ran > run->timeout_s) {
            run->timed_out = true;
            kill(-run->pid, SIGTERM);
        } else if (run->timed_out && ran > run->timeout_s + kGraceSeconds) {
            kill(-run->pid, SIGKILL);
        }
    }
}

// Reaps the copies that ended, each looked at before it is reaped, so that
// the copy's group still exists: whatever the copy left in it goes with it.
void reap_ended(std::vector<Run*>& running, const std::string& dir, Session& session) {
    rusage usage{};
    int status = 0;
    siginfo_t ended{};
    while (waitid(P_ALL, 0, &ended, WEXITED | WNOHANG | WNOWAIT) == 0 && ended.si_pid != 0) {
        const pid_t pid = ended.si_pid;
        const bool copy = std::ranges::any_of(running, [pid](Run* run) { return run->pid == pid; });
        if (copy) kill(-pid, SIGKILL);
        if (wait4(pid, &status, 0, &usage) != pid) break;
        for (auto it = running.begin(); it != running.end(); ++it) {
            if ((*it)->pid != pid) continue;
            finish_copy(**it, status, usage, dir);
            if (!(*it)->scored) session.outcome = Outcome::failed;
            running.erase(it);
            break;
        }
    }
}

// The stop signal among those read from the signal descriptor, or 0.
int stop_signal_read(int signals) {
    int sig = 0;
    signalfd_siginfo info{};
    while (read(signals, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        if (info.ssi_signo != SIGCHLD && sig == 0) sig = static_cast<int>(info.ssi_signo);
    }
    return sig == SIGINT || sig == SIGTERM || sig == SIGHUP ? sig : 0;
}

}  // namespace

void run_all(const Settings& settings, const std::string& dir, Session& session) {
    // The stop signals and the copies' ends, read beside their messages.
    static const int signals = signalfd(-1, &watched_signals(), SFD_NONBLOCK | SFD_CLOEXEC);
    const bool progress = isatty(STDERR_FILENO) != 0;
    Planner planner(settings);
    timespec call_start{};
    clock_gettime(CLOCK_MONOTONIC, &call_start);
    int round_number = 0;
    for (;;) {
        const std::optional<RoundPlan> plan =
            planner.next(rounds_of(figures_of(session.runs)), seconds_since(call_start));
        if (!plan) break;
        // A signal while the build was described, or between rounds.
        if (const int sig = pending_stop(); sig != 0) {
            session.outcome = Outcome::interrupted;
            session.interrupt_signal = sig;
            session.stopped_because = "interrupted";
            return;
        }
        ++round_number;
        const std::size_t first = queue_copies(settings, *plan, session);
        record_environment(session.runs, first, true);
        std::vector<Run*> running;
        for (std::size_t i = first; i < session.runs.size(); ++i) {
            start_copy(session.runs[i], settings.pts[plan->build], dir);
            running.push_back(&session.runs[i]);
        }
        const timespec round_start = session.runs[first].started;
        while (!running.empty()) {
            if (progress) {
                show_progress(session, round_number, std::max(planner.expected_rounds(), round_number), plan->copies,
                              seconds_since(call_start), seconds_since(round_start));
            }
            std::vector<pollfd> waited{{signals, POLLIN, 0}};
            for (Run* run : running) waited.push_back({run->messages_fd, POLLIN, 0});
            poll(waited.data(), waited.size(), 1000);
            const int sig = stop_signal_read(signals);
            for (Run* run : running) read_messages(*run);
            if (sig != 0) {
                session.outcome = Outcome::interrupted;
                session.interrupt_signal = sig;
                end_copies(running);
                break;
            }
            enforce_limits(running);
            reap_ended(running, dir, session);
            if (session.outcome == Outcome::failed) {
                end_copies(running);
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
