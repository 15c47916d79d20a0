// ptrun: the waiting parent program. Runs pt unattended several times, one or
// more copies at once, each pinned to a processor of its own, and reports the
// scores with their spread, how much of a processor every copy got, what pt
// itself warned about, and the machine and build they came from.
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "driver/run_checks.h"
#include "platform/platform.h"

namespace {

namespace fs = std::filesystem;

constexpr int kMaxRuns = 100;
constexpr int kMaxCopies = 1024;
constexpr double kExpectedRoundSeconds = 40.0;

// ---- Bad input and the command line ------------------------------------------

[[noreturn]] void usage(std::FILE* to, int code) {
    std::fputs("Usage: ptrun [--runs N] [--copies LIST] [--cpus LIST] [--pt PATH] [--json FILE] [--keep DIR]\n"
               "  --runs N       rounds per copy count (default 3, at most 100)\n"
               "  --copies LIST  copy counts, e.g. 1,2 or 1,all (default 1; all = one per processor)\n"
               "  --cpus LIST    processors to pin the copies to, e.g. 0 or 0,2-3 (default: all ptrun may use)\n"
               "  --pt PATH      the pt to run (default: the one beside ptrun)\n"
               "  --json FILE    also write every figure to FILE\n"
               "  --keep DIR     keep the result files and pt's messages in DIR\n",
               to);
    std::exit(code);
}

[[noreturn]] void usage_error(const std::string& message) {
    std::fprintf(stderr, "ptrun: %s (ptrun --help lists the options)\n", message.c_str());
    std::exit(2);
}

std::optional<long> whole_number(const std::string& text) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    return std::strtol(text.c_str(), nullptr, 10);
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t at = 0;
    for (std::size_t next; (next = text.find(separator, at)) != std::string::npos; at = next + 1) {
        parts.push_back(text.substr(at, next - at));
    }
    parts.push_back(text.substr(at));
    return parts;
}

struct Settings {
    int runs = 3;
    std::vector<int> copies;
    std::vector<int> cpus;
    std::string pt;
    std::string json;
    std::string keep;
};

// The processors this process may run on, in ascending order.
std::vector<int> usable_processors() {
    std::vector<int> cpus;
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
            if (CPU_ISSET(cpu, &set)) cpus.push_back(cpu);
        }
    }
    if (cpus.empty()) cpus.push_back(0);
    return cpus;
}

std::vector<int> parse_cpus(const std::string& text) {
    const std::vector<int> usable = usable_processors();
    std::vector<int> cpus;
    for (const std::string& part : split(text, ',')) {
        const std::vector<std::string> range = split(part, '-');
        const std::optional<long> first = whole_number(range[0]);
        const std::optional<long> last = range.size() == 2 ? whole_number(range[1]) : first;
        if (range.size() > 2 || !first || !last || *first > *last) usage_error("bad processor list \"" + text + "\"");
        for (long cpu = *first; cpu <= *last; ++cpu) {
            if (std::find(usable.begin(), usable.end(), cpu) == usable.end()) {
                usage_error("processor " + std::to_string(cpu) + " is not online or not available to ptrun");
            }
            if (std::find(cpus.begin(), cpus.end(), cpu) != cpus.end()) {
                usage_error("processor " + std::to_string(cpu) + " is listed twice");
            }
            cpus.push_back(static_cast<int>(cpu));
        }
    }
    return cpus;
}

std::vector<int> parse_copies(const std::string& text, int processors) {
    std::vector<int> copies;
    for (const std::string& part : split(text, ',')) {
        const std::optional<long> count = part == "all" ? std::optional<long>(processors) : whole_number(part);
        if (!count || *count < 1 || *count > kMaxCopies) {
            usage_error("bad copy count \"" + part + "\": a number from 1 to " + std::to_string(kMaxCopies) +
                        ", or all");
        }
        if (std::find(copies.begin(), copies.end(), *count) != copies.end()) {
            usage_error("copy count " + std::to_string(*count) + " is given twice");
        }
        copies.push_back(static_cast<int>(*count));
    }
    return copies;
}

std::string own_directory() {
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    return error ? std::string(".") : self.parent_path().string();
}

bool is_executable_file(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

// pt beside ptrun when installed, or in the build tree's src/.
std::string default_pt() {
    const std::string dir = own_directory();
    for (const std::string& candidate : {dir + "/pt", dir + "/../src/pt"}) {
        if (is_executable_file(candidate)) return candidate;
    }
    usage_error("no pt found beside ptrun (" + dir + "/pt): name it with --pt");
}

// Finds out now, not after minutes of runs, whether FILE can be written: the
// figures are written beside it and renamed onto it.
void check_writable(const std::string& file) {
    std::error_code error;
    if (fs::is_directory(file, error)) usage_error("--json " + file + " is a directory");
    const fs::path parent = fs::absolute(file, error).parent_path();
    std::string probe = (parent / ".ptrun-XXXXXX").string();
    const int fd = mkstemp(probe.data());
    if (fd < 0) usage_error("cannot write --json " + file + ": " + std::strerror(errno));
    close(fd);
    unlink(probe.c_str());
    if (fs::exists(file, error) && access(file.c_str(), W_OK) != 0) {
        usage_error("cannot write --json " + file + ": " + std::strerror(errno));
    }
}

Settings parse_command_line(int argc, char** argv) {
    Settings settings;
    std::string copies = "1";
    std::string cpus;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--help" || option == "-h") usage(stdout, 0);
        if (i + 1 >= argc) usage_error("unknown option or missing value: " + option);
        const std::string value = argv[++i];
        if (option == "--runs") {
            const std::optional<long> runs = whole_number(value);
            if (!runs || *runs < 1 || *runs > kMaxRuns) {
                usage_error("bad --runs \"" + value + "\": a number from 1 to " + std::to_string(kMaxRuns));
            }
            settings.runs = static_cast<int>(*runs);
        } else if (option == "--copies") {
            copies = value;
        } else if (option == "--cpus") {
            cpus = value;
        } else if (option == "--pt") {
            settings.pt = value;
        } else if (option == "--json") {
            settings.json = value;
        } else if (option == "--keep") {
            settings.keep = value;
        } else {
            usage_error("unknown option " + option);
        }
    }
    settings.cpus = cpus.empty() ? usable_processors() : parse_cpus(cpus);
    settings.copies = parse_copies(copies, static_cast<int>(settings.cpus.size()));
    if (settings.pt.empty()) settings.pt = default_pt();
    if (!is_executable_file(settings.pt)) usage_error("no executable pt at " + settings.pt);
    settings.pt = fs::canonical(settings.pt).string();
    if (!settings.json.empty()) check_writable(settings.json);
    if (!settings.keep.empty()) {
        std::error_code error;
        fs::create_directories(settings.keep, error);
        if (!fs::is_directory(settings.keep) || access(settings.keep.c_str(), W_OK | X_OK) != 0) {
            usage_error("cannot keep the files in " + settings.keep);
        }
        settings.keep = fs::canonical(settings.keep).string();
    }
    return settings;
}

// ---- The machine and the build -------------------------------------------------

std::string read_text(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The value of the first "key : value" line of a /proc file.
std::string proc_value(const std::string& path, const std::string& key) {
    std::istringstream lines(read_text(path));
    for (std::string line; std::getline(lines, line);) {
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos || line.compare(0, key.size(), key) != 0) continue;
        const std::size_t start = line.find_first_not_of(" \t", colon + 1);
        return start == std::string::npos ? "" : line.substr(start);
    }
    return "";
}

// Standard output of a program, when it ends well within seconds_allowed
// with exit code 0.
std::optional<std::string> output_of(const std::vector<std::string>& command, int seconds_allowed) {
    int pipe_ends[2];
    if (pipe(pipe_ends) != 0) return std::nullopt;
    const pid_t pid = fork();
    if (pid < 0) return std::nullopt;
    if (pid == 0) {
        std::vector<char*> args;
        for (const std::string& arg : command) args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(pipe_ends[1], 1);
        dup2(null, 2);
        close(pipe_ends[0]);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(pipe_ends[1]);
    fcntl(pipe_ends[0], F_SETFL, O_NONBLOCK);
    std::string text;
    const std::time_t deadline = std::time(nullptr) + seconds_allowed;
    int status = 0;
    bool ended = false;
    while (!ended && std::time(nullptr) <= deadline) {
        char buffer[4096];
        ssize_t n;
        while ((n = read(pipe_ends[0], buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(n));
        ended = waitpid(pid, &status, WNOHANG) == pid;
        if (!ended) usleep(20000);
    }
    if (!ended) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    char buffer[4096];
    ssize_t n;
    while ((n = read(pipe_ends[0], buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(n));
    close(pipe_ends[0]);
    if (!ended || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

struct Machine {
    std::string processor;
    long online = 0;
    std::string kernel;
    unsigned long long memory_bytes = 0;
    std::string governor;
    double load[3] = {-1, -1, -1};
    std::string pt_sha256;
    std::string build;
};

Machine describe_machine(const Settings& settings) {
    Machine machine;
    machine.processor = proc_value("/proc/cpuinfo", "model name");
    if (machine.processor.empty()) machine.processor = "unknown";
    machine.online = sysconf(_SC_NPROCESSORS_ONLN);
    utsname names{};
    if (uname(&names) == 0) {
        machine.kernel = std::string(names.sysname) + " " + names.release + " " + names.machine;
    }
    machine.memory_bytes = std::strtoull(proc_value("/proc/meminfo", "MemTotal").c_str(), nullptr, 10) * 1024u;
    // The governors of the processors the copies run on, each named once.
    for (int cpu : settings.cpus) {
        char text[64];
        processor_governor(cpu, text, sizeof text);
        const std::string governor = text;
        if (!governor.empty() && machine.governor.find(governor) == std::string::npos) {
            machine.governor += (machine.governor.empty() ? "" : ", ") + governor;
        }
    }
    if (machine.governor.empty()) machine.governor = "unknown";
    if (getloadavg(machine.load, 3) != 3) machine.load[0] = machine.load[1] = machine.load[2] = -1;
    const std::optional<std::string> sum = output_of({"sha256sum", settings.pt}, 30);
    machine.pt_sha256 = sum ? sum->substr(0, sum->find(' ')) : "unknown";
    // The build describes itself through its verification tool: beside pt
    // when installed, in tools/ beside src/ in a build tree.
    const fs::path pt_dir = fs::path(settings.pt).parent_path();
    std::optional<std::string> build;
    for (const fs::path& verifier : {pt_dir / "ptverify", pt_dir / ".." / "tools" / "ptverify"}) {
        if (!build && is_executable_file(verifier.string())) build = output_of({verifier.string(), "--version"}, 10);
    }
    machine.build = build && !build->empty() ? *build : "unknown";
    return machine;
}

// ---- Runs ----------------------------------------------------------------------

struct Run {
    int copies = 0;
    int round = 0;
    int copy = 0;
    int cpu = 0;
    pid_t pid = 0;
    timespec started{};
    bool finished = false;
    double wall_s = 0;
    double share = 0;
    long involuntary_switches = 0;
    int exit_code = -1;
    int signal = 0;
    double score = 0;
    bool scored = false;
    std::string error;
    std::vector<std::string> messages;  // pt's warnings and notes, without "pt: "
    bool low_share = false;
    bool speed_changed = false;
    bool flagged() const { return low_share || speed_changed; }
    std::string name() const {
        return "k" + std::to_string(copies) + "-r" + std::to_string(round) + "-c" + std::to_string(copy);
    }
};

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

enum class Outcome { completed, failed, interrupted };

struct Session {
    std::vector<Run> runs;
    std::vector<double> round_seconds;
    Outcome outcome = Outcome::completed;
    int interrupt_signal = 0;
};

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

void run_all(const Settings& settings, const std::string& dir, Session& session) {
    // Children whose end is ignored are reaped by the system, and their
    // times with them: a parent that started ptrun that way is overruled.
    signal(SIGCHLD, SIG_DFL);
    const sigset_t watched = watched_signals();
    sigset_t old_mask;
    sigprocmask(SIG_BLOCK, &watched, &old_mask);
    const bool progress = isatty(STDERR_FILENO) != 0;
    const int total_rounds = settings.runs * static_cast<int>(settings.copies.size());
    timespec call_start{};
    clock_gettime(CLOCK_MONOTONIC, &call_start);
    int round_number = 0;
    for (int copies : settings.copies) {
        for (int round = 1; round <= settings.runs; ++round) {
            ++round_number;
            const std::size_t first = session.runs.size();
            for (int copy = 1; copy <= copies; ++copy) {
                Run run;
                run.copies = copies;
                run.round = round;
                run.copy = copy;
                run.cpu = settings.cpus[static_cast<std::size_t>(copy - 1) % settings.cpus.size()];
                session.runs.push_back(run);
            }
            std::vector<Run*> running;
            for (std::size_t i = first; i < session.runs.size(); ++i) {
                start_copy(session.runs[i], settings.pt, dir, old_mask);
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
                    const double left = per_round * (total_rounds - round_number + 1) - seconds_since(round_start);
                    std::fprintf(stderr, "\rptrun: run %d of %d (%d %s), %s elapsed, about %s left\033[K",
                                 round_number, total_rounds, copies, copies == 1 ? "copy" : "copies",
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
            if (progress) std::fputs("\r\033[K", stderr);
            if (session.outcome != Outcome::completed) {
                // Copies ended by ptrun did not finish; they are no figures.
                std::erase_if(session.runs, [](const Run& run) { return !run.finished; });
                return;
            }
            session.round_seconds.push_back(seconds_since(round_start));
        }
    }
}

// ---- Figures -------------------------------------------------------------------

struct Round {
    int copies = 0;
    int round = 0;
    double rate = 0;
    bool flagged = false;
};

struct Summary {
    int copies = 0;
    std::size_t rounds = 0;
    double median = 0, min = 0, max = 0, cv = 0;
    double efficiency = -1;  // against the one-copy median; -1 when not both were run
    int flagged = 0;
};

std::vector<Round> rounds_of(const std::vector<Run>& runs) {
    std::vector<Round> rounds;
    for (const Run& run : runs) {
        if (rounds.empty() || rounds.back().copies != run.copies || rounds.back().round != run.round) {
            rounds.push_back({run.copies, run.round, 0, false});
        }
        rounds.back().rate += run.score;
        rounds.back().flagged = rounds.back().flagged || run.flagged();
    }
    // A round that did not finish all its copies has no rate score.
    std::erase_if(rounds, [&runs](const Round& round) {
        return std::count_if(runs.begin(), runs.end(), [&round](const Run& run) {
                   return run.copies == round.copies && run.round == round.round && run.scored;
               }) != round.copies;
    });
    return rounds;
}

std::vector<Summary> summarise(const std::vector<Run>& runs, const std::vector<Round>& rounds) {
    std::vector<Summary> summaries;
    for (const Round& round : rounds) {
        if (summaries.empty() || summaries.back().copies != round.copies) summaries.push_back({round.copies});
    }
    for (Summary& summary : summaries) {
        std::vector<double> rates;
        for (const Round& round : rounds) {
            if (round.copies == summary.copies) rates.push_back(round.rate);
        }
        std::sort(rates.begin(), rates.end());
        const std::size_t n = rates.size();
        summary.rounds = n;
        summary.min = rates.front();
        summary.max = rates.back();
        summary.median = n % 2 == 1 ? rates[n / 2] : (rates[n / 2 - 1] + rates[n / 2]) / 2;
        double mean = 0;
        for (double rate : rates) mean += rate;
        mean /= static_cast<double>(n);
        double squares = 0;
        for (double rate : rates) squares += (rate - mean) * (rate - mean);
        summary.cv = n > 1 ? std::sqrt(squares / static_cast<double>(n - 1)) / mean : 0;
        summary.flagged = static_cast<int>(std::count_if(runs.begin(), runs.end(), [&summary](const Run& run) {
            return run.copies == summary.copies && run.flagged();
        }));
    }
    for (Summary& summary : summaries) {
        for (const Summary& single : summaries) {
            if (single.copies == 1 && summary.copies > 1) {
                summary.efficiency = summary.median / (summary.copies * single.median);
            }
        }
    }
    return summaries;
}

int flagged_runs(const std::vector<Run>& runs) {
    return static_cast<int>(std::count_if(runs.begin(), runs.end(), [](const Run& run) { return run.flagged(); }));
}

std::string flags_of(const Run& run) {
    std::string flags = run.low_share ? "share" : "";
    if (run.speed_changed) flags += flags.empty() ? "speed" : ",speed";
    return flags;
}

void print_report(const Settings& settings, const Machine& machine, const Session& session) {
    const std::vector<Round> rounds = rounds_of(session.runs);
    const std::vector<Summary> summaries = summarise(session.runs, rounds);
    std::printf("pt            %s\n", settings.pt.c_str());
    std::printf("sha256        %s\n", machine.pt_sha256.c_str());
    std::printf("build         %s\n", machine.build.c_str());
    std::printf("processor     %s, %ld online\n", machine.processor.c_str(), machine.online);
    std::printf("kernel        %s\n", machine.kernel.c_str());
    std::printf("memory        %.1f GiB\n", static_cast<double>(machine.memory_bytes) / (1024.0 * 1024 * 1024));
    std::printf("governor      %s\n", machine.governor.c_str());
    std::printf("load average  %.2f %.2f %.2f before the first run\n\n", machine.load[0], machine.load[1],
                machine.load[2]);

    std::printf("copies  round  copy  cpu       score  wall s   share  invol. switches  flags\n");
    for (const Run& run : session.runs) {
        std::printf("%6d  %5d  %4d  %3d  %10.2f  %6.1f  %5.1f %%  %15ld  %s\n", run.copies, run.round, run.copy,
                    run.cpu, run.score, run.wall_s, run.share * 100.0, run.involuntary_switches,
                    flags_of(run).c_str());
    }
    for (const Round& round : rounds) {
        if (round.copies > 1) std::printf("%6d  %5d   sum       %10.2f  rate score\n", round.copies, round.round,
                                          round.rate);
    }

    std::printf("\ncopies  runs      median         min         max      cv  scaling  flagged\n");
    for (const Summary& summary : summaries) {
        char efficiency[16] = "";
        if (summary.efficiency >= 0) std::snprintf(efficiency, sizeof efficiency, "%5.1f %%", summary.efficiency * 100);
        std::printf("%6d  %4zu  %10.2f  %10.2f  %10.2f  %4.1f %%  %7s  %7d\n", summary.copies, summary.rounds,
                    summary.median, summary.min, summary.max, summary.cv * 100.0, efficiency, summary.flagged);
    }

    bool said = false;
    for (const Run& run : session.runs) {
        for (const std::string& message : run.messages) {
            if (!said) std::printf("\npt said:\n");
            said = true;
            std::printf("  copies %d, round %d, copy %d: %s\n", run.copies, run.round, run.copy, message.c_str());
        }
    }
    const int flagged = flagged_runs(session.runs);
    if (flagged > 0) {
        std::printf("\n%d of %zu runs flagged (processor share below 95 %% or a change of speed): the machine was "
                    "not quiet. Re-run on a quiet machine.\n",
                    flagged, session.runs.size());
    }
    std::fflush(stdout);
}

// ---- JSON ----------------------------------------------------------------------

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string number(double value) {
    if (!std::isfinite(value)) return "null";
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

std::string list(const std::vector<int>& values) {
    std::string out = "[";
    for (std::size_t i = 0; i < values.size(); ++i) out += (i > 0 ? ", " : "") + std::to_string(values[i]);
    return out + "]";
}

bool write_json(const Settings& settings, const Machine& machine, const Session& session) {
    const std::vector<Round> rounds = rounds_of(session.runs);
    const std::vector<Summary> summaries = summarise(session.runs, rounds);
    std::ostringstream j;
    const char* outcome = session.outcome == Outcome::completed ? "completed"
                          : session.outcome == Outcome::failed  ? "failed"
                                                                : "interrupted";
    j << "{\n  \"outcome\": " << quoted(outcome) << ",\n";
    j << "  \"settings\": {\"runs\": " << settings.runs << ", \"copies\": " << list(settings.copies)
      << ", \"cpus\": " << list(settings.cpus) << "},\n";
    j << "  \"machine\": {\"processor\": " << quoted(machine.processor) << ", \"processors_online\": "
      << machine.online << ", \"kernel\": " << quoted(machine.kernel) << ", \"memory_bytes\": "
      << machine.memory_bytes << ", \"governor\": " << quoted(machine.governor) << ", \"load_average\": ["
      << number(machine.load[0]) << ", " << number(machine.load[1]) << ", " << number(machine.load[2]) << "]},\n";
    j << "  \"pt\": {\"path\": " << quoted(settings.pt) << ", \"sha256\": " << quoted(machine.pt_sha256)
      << ", \"build\": " << quoted(machine.build) << "},\n";
    j << "  \"runs\": [";
    for (std::size_t i = 0; i < session.runs.size(); ++i) {
        const Run& run = session.runs[i];
        j << (i > 0 ? "," : "") << "\n    {\"copies\": " << run.copies << ", \"round\": " << run.round
          << ", \"copy\": " << run.copy << ", \"cpu\": " << run.cpu << ", \"score\": "
          << (run.scored ? number(run.score) : "null") << ", \"wall_s\": " << number(run.wall_s)
          << ", \"share\": " << number(run.share) << ", \"involuntary_switches\": " << run.involuntary_switches
          << ", \"exit_code\": " << run.exit_code << ", \"error\": " << (run.error.empty() ? "null" : quoted(run.error))
          << ", \"pt_messages\": [";
        for (std::size_t m = 0; m < run.messages.size(); ++m) j << (m > 0 ? ", " : "") << quoted(run.messages[m]);
        j << "], \"low_share\": " << (run.low_share ? "true" : "false") << ", \"speed_changed\": "
          << (run.speed_changed ? "true" : "false") << ", \"flagged\": " << (run.flagged() ? "true" : "false") << "}";
    }
    j << "\n  ],\n  \"rounds\": [";
    for (std::size_t i = 0; i < rounds.size(); ++i) {
        j << (i > 0 ? "," : "") << "\n    {\"copies\": " << rounds[i].copies << ", \"round\": " << rounds[i].round
          << ", \"rate_score\": " << number(rounds[i].rate) << ", \"flagged\": "
          << (rounds[i].flagged ? "true" : "false") << "}";
    }
    j << "\n  ],\n  \"summary\": [";
    for (std::size_t i = 0; i < summaries.size(); ++i) {
        const Summary& s = summaries[i];
        j << (i > 0 ? "," : "") << "\n    {\"copies\": " << s.copies << ", \"runs\": " << s.rounds
          << ", \"median\": " << number(s.median) << ", \"min\": " << number(s.min) << ", \"max\": "
          << number(s.max) << ", \"cv\": " << number(s.cv) << ", \"scaling_efficiency\": "
          << (s.efficiency >= 0 ? number(s.efficiency) : "null") << ", \"flagged_runs\": " << s.flagged << "}";
    }
    j << "\n  ],\n  \"flagged_runs\": " << flagged_runs(session.runs) << "\n}\n";

    const std::string temporary = settings.json + ".tmp";
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << j.str();
        out.flush();
        if (!out) return false;
    }
    return std::rename(temporary.c_str(), settings.json.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    const Settings settings = parse_command_line(argc, argv);
    for (int copies : settings.copies) {
        if (copies > static_cast<int>(settings.cpus.size())) {
            std::fprintf(stderr,
                         "ptrun: note: %d copies on %zu processors: copies share processors, so each scores less "
                         "and the rate score says little about the machine\n",
                         copies, settings.cpus.size());
        }
    }
    const Machine machine = describe_machine(settings);

    std::string dir = settings.keep;
    if (dir.empty()) {
        std::string pattern = (fs::temp_directory_path() / "ptrun-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            std::fprintf(stderr, "ptrun: cannot make a temporary folder: %s\n", std::strerror(errno));
            return 1;
        }
        dir = pattern;
    }
    Session session;
    run_all(settings, dir, session);
    if (settings.keep.empty()) {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }

    print_report(settings, machine, session);
    int code = 0;
    if (session.outcome == Outcome::failed) {
        for (const Run& run : session.runs) {
            if (run.scored) continue;
            std::fprintf(stderr, "ptrun: copies %d, round %d, copy %d failed: ", run.copies, run.round, run.copy);
            if (run.signal != 0) {
                std::fprintf(stderr, "ended by signal %d", run.signal);
            } else {
                std::fprintf(stderr, "exit code %d", run.exit_code);
            }
            std::fprintf(stderr, ": %s\n", run.error.c_str());
        }
        code = 1;
    } else if (session.outcome == Outcome::interrupted) {
        std::fprintf(stderr, "ptrun: interrupted; every copy has been ended\n");
        code = 128 + session.interrupt_signal;
    }
    if (!settings.json.empty() && !write_json(settings, machine, session)) {
        std::fprintf(stderr, "ptrun: could not write %s\n", settings.json.c_str());
        if (code == 0) code = 1;
    }
    return code;
}
