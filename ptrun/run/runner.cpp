#include "run/runner.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <sstream>

#include "driver/run_checks.h"
#include "platform/platform.h"
#include "run/environment.h"
#include "run/profile.h"
#include "system/host.h"
#include "system/output.h"
#include "system/process.h"
#include "system/signals.h"

namespace ptrun {

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kExpectedRoundSeconds = 40.0;
constexpr std::size_t kMessagesKept = 64 * 1024;
constexpr double kGraceSeconds = 5;
// What a message quotes of a Result that is no score.
constexpr std::size_t kResultQuoted = 64;

double seconds_since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// A file of the call's folder.
std::string in_folder(const std::string& dir, const std::string& name) { return (fs::path(dir) / name).string(); }

// A copy while it runs: its process, what it has said so far and its time
// limit, filling its run's record in the session.
struct Copy {
    std::size_t record = 0;  // in the session's runs
    std::string name;        // of its result file and of its messages in --keep DIR
    Process process;
    std::string messages;  // the last kMessagesKept bytes of its standard error
    bool messages_cut = false;
    double limit_s = 0;
    bool timed_out = false;
};

std::string copy_name(std::size_t build, const RoundPlan& plan, int copy) {
    return "b" + std::to_string(build) + "-k" + std::to_string(plan.copies) + "-r" + std::to_string(plan.round) +
           "-c" + std::to_string(copy);
}

// Starts one copy of pt in dir, pinned to its processor, its messages going
// to a pipe ptrun reads as they come; false, with the record saying why, when
// it cannot be started.
bool start_copy(Copy& copy, RunRecord& run, const std::string& pt, const std::string& dir) {
    const std::string result = in_folder(dir, copy.name + ".ini");
    run.started_utc = utc_now();
    // A result file left by an earlier call in --keep DIR would be credited
    // to this copy.
    std::string error;
    std::error_code removal;
    if (!fs::remove(result, removal) && removal) {
        error = "cannot remove the earlier result file " + result + ": " + removal.message();
    } else {
        Launch launch;
        launch.command = {pt, copy.name + ".ini"};
        launch.folder = dir;
        launch.cpu = run.cpu;
        launch.errors_to_pipe = true;
        launch.end_with_ptrun = true;  // a copy never outlives ptrun
        if (copy.process.start(launch, error)) return true;
        error = "cannot start pt: " + error;
    }
    run.ended_utc = utc_now();
    run.exit_code = -1;
    run.error = error;
    return false;
}

// pt's warnings and notes, and the lines that say why it failed.
void take_messages(Copy& copy, RunRecord& run, const std::string& dir) {
    std::string tail = std::move(copy.messages);
    if (copy.messages_cut) {
        const std::size_t line_end = tail.find('\n');  // the first line is only part of one
        tail.erase(0, line_end == std::string::npos ? tail.size() : line_end + 1);
    }
    // What --keep keeps: the messages as read.
    write_plain_file(in_folder(dir, copy.name + ".err"), tail);
    run.messages_cut = copy.messages_cut;
    std::string error;
    std::istringstream lines(tail);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(kShareWarningStart, 0) == 0) run.low_share = true;
        if (line.rfind(kSpeedWarningStart, 0) == 0) run.speed_changed = true;
        if (line.rfind("pt: warning: ", 0) == 0 || line.rfind("pt: note: ", 0) == 0) {
            run.pt_messages.push_back(line.substr(4));
        } else if (run.exit_code != 0 && !line.empty()) {
            error += (error.empty() ? "" : " ") + line;
        }
    }
    if (!error.empty()) run.error = error;
}

void finish_copy(Copy& copy, RunRecord& run, const Ending& ending, const std::string& dir) {
    run.ended_utc = utc_now();
    run.wall_s = copy.process.seconds();
    run.share = run.wall_s > 0 ? ending.processor_s / run.wall_s : 0;
    run.involuntary_switches = ending.involuntary_switches;
    run.exit_code = ending.exit_code;
    run.low_share = run.share < kMinProcessorShare;
    copy.process.read_pipe(copy.messages, kMessagesKept, true, copy.messages_cut);
    take_messages(copy, run, dir);
    const ResultFile file = read_result_file(in_folder(dir, copy.name + ".ini"));
    double score = 0;
    const std::string problem = file.problem.empty() ? score_problem(file.result, score) : file.problem;
    if (run.exit_code == 0 && problem.empty() && !copy.timed_out) run.score = score;
    if (!file.error.empty()) run.error = file.error;
    if (copy.timed_out) {
        run.error = "ended by ptrun after the --timeout of " + std::to_string(std::lround(copy.limit_s)) + " s";
    } else if (!ending.ended_by.empty()) {
        const std::string said = run.error ? ": " + *run.error : std::string();
        run.error = "ended by " + ending.ended_by + said;
    } else if (!run.score && !run.error) {
        run.error = problem.empty() ? "pt did not end well" : problem;
    }
    run.flagged = run.low_share || run.speed_changed;
}

std::string duration(double seconds) {
    const long s = std::lround(std::max(seconds, 0.0));
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}

// The state of the round's processors, read once for all its copies while
// none runs, so that the reading takes nothing from a timed section.
void record_environment(std::vector<RunRecord>& runs, std::size_t first, bool before) {
    std::vector<int> cpus;
    for (std::size_t i = first; i < runs.size(); ++i) cpus.push_back(runs[i].cpu);
    const Snapshot snapshot = read_snapshot(cpus);
    for (std::size_t i = first; i < runs.size(); ++i) {
        (before ? runs[i].environment_before : runs[i].environment_after) = only_cpu(snapshot, runs[i].cpu);
    }
}

// A Result as a message quotes it: the start of one too long to show.
std::string quoted(const std::string& text) {
    if (text.size() <= kResultQuoted) return "\"" + text + "\"";
    return "\"" + text.substr(0, kResultQuoted) + "...\" (" + std::to_string(text.size()) + " characters)";
}

}  // namespace

ResultFile read_result_file(const std::string& path) {
    ResultFile file;
    std::error_code failed;
    const fs::file_status status = fs::status(path, failed);
    if (!fs::exists(status)) {
        if (status.type() != fs::file_type::not_found) {
            file.problem = "pt's result file cannot be read: " + failed.message();
        }
        return file;  // none: no Result
    }
    const std::uintmax_t size = fs::is_regular_file(status) ? fs::file_size(path, failed) : 0;
    if (!fs::is_regular_file(status)) {
        file.problem = "pt's result file is not a regular file";
    } else if (failed) {
        file.problem = "pt's result file cannot be read: " + failed.message();
    } else if (size > kMaxResultFileBytes) {
        file.problem = "pt's result file holds " + std::to_string(size) + " bytes, more than the " +
                       std::to_string(kMaxResultFileBytes >> 20) + " MiB ptrun reads of one: it is not read";
    }
    if (!file.problem.empty()) return file;
    // No value is longer than the file: the whole of it is read.
    std::string text(static_cast<std::size_t>(size) + 1, '\0');
    text.resize(profile_read_string("Test", "Result", "", text.data(), text.size(), path.c_str()));
    file.result = text;
    char error[1024];
    profile_read_string("Test", "Error", "", error, sizeof error, path.c_str());
    file.error = error;
    return file;
}

std::string score_problem(const std::string& text, double& score) {
    score = 0;
    if (text.find_first_not_of(" \t") == std::string::npos) return "pt wrote no result";
    errno = 0;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    const std::size_t parsed = static_cast<std::size_t>(end - text.c_str());
    const bool whole = parsed > 0 && text.find_first_not_of(" \t\r", parsed) == std::string::npos;
    if (!whole || errno == ERANGE || !std::isfinite(value) || value <= 0) {
        return "pt's Result " + quoted(text) + " is not a finite positive number";
    }
    if (value > kMaxScore) {
        char limit[32];
        std::snprintf(limit, sizeof limit, "%g", kMaxScore);
        return "pt's Result " + quoted(text) + " is above " + limit +
               ", the most ptrun can add up and spread over rounds";
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

const char* outcome_name(Outcome outcome) {
    return outcome == Outcome::completed ? "completed" : outcome == Outcome::failed ? "failed" : "interrupted";
}

std::string utc_now() {
    using namespace std::chrono;
    const auto now = floor<seconds>(system_clock::now());
    const auto day = floor<days>(now);
    const year_month_day date{day};
    const hh_mm_ss time{now - day};
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()));
    return text;
}

namespace {

// The round's copies, their records queued in the session: the copy numbers
// in order, each on its processor, with the time limit of its copy count.
std::vector<Copy> queue_copies(const Settings& settings, const RoundPlan& plan, Session& session) {
    std::vector<Copy> copies;
    for (int number = 1; number <= plan.copies; ++number) {
        RunRecord run;
        run.build = build_id(plan.build);
        run.copies = plan.copies;
        run.round = plan.round;
        run.copy = number;
        run.warmup = plan.warmup;
        run.cpu = settings.cpus[static_cast<std::size_t>(number - 1) % settings.cpus.size()];
        Copy copy;
        copy.record = session.runs.size();
        copy.name = copy_name(plan.build, plan, number);
        copy.limit_s = copy_limit_s(settings, plan.copies);
        session.runs.push_back(run);
        copies.push_back(std::move(copy));
    }
    return copies;
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
void enforce_limits(std::vector<Copy*>& running) {
    for (Copy* copy : running) {
        const double ran = copy->process.seconds();
        if (!copy->timed_out && ran > copy->limit_s) {
            copy->timed_out = true;
            copy->process.ask_to_end();
        } else if (copy->timed_out && ran > copy->limit_s + kGraceSeconds) {
            copy->process.force_end();
        }
    }
}

// Reaps the copies that ended, filling their records.
void reap_ended(std::vector<Copy*>& running, const std::string& dir, Session& session) {
    std::erase_if(running, [&](Copy* copy) {
        Ending ending;
        if (!copy->process.reap(ending)) return false;
        RunRecord& run = session.runs[copy->record];
        finish_copy(*copy, run, ending, dir);
        if (!run.score) session.outcome = Outcome::failed;
        return true;
    });
}

void end_copies(std::vector<Copy*>& running) {
    std::vector<Process*> processes;
    for (Copy* copy : running) processes.push_back(&copy->process);
    end_all(processes, kGraceSeconds);
    running.clear();
}

// Runs one round's copies until each has ended, one has failed or a stop
// signal has come.
void run_round(const Settings& settings, const std::string& dir, const RoundPlan& plan, Session& session,
               std::vector<Copy>& copies, const std::function<void()>& progress) {
    std::vector<Copy*> running;
    for (Copy& copy : copies) {
        if (!start_copy(copy, session.runs[copy.record], settings.pts[plan.build], dir)) {
            session.outcome = Outcome::failed;
            break;
        }
        running.push_back(&copy);
    }
    while (!running.empty() && session.outcome == Outcome::completed) {
        progress();
        std::vector<const Process*> waited;
        for (const Copy* copy : running) waited.push_back(&copy->process);
        wait_for(waited, 1.0);
        for (Copy* copy : running) copy->process.read_pipe(copy->messages, kMessagesKept, true, copy->messages_cut);
        if (const int sig = stop_signal(); sig != 0) {
            session.outcome = Outcome::interrupted;
            session.interrupt_signal = sig;
            break;
        }
        enforce_limits(running);
        reap_ended(running, dir, session);
    }
    end_copies(running);
}

}  // namespace

void run_all(const Settings& settings, const std::vector<std::string>& verifiers, const std::string& dir,
             Session& session, const AfterRound& after_round) {
    const bool progress = standard_error_is_terminal();
    Planner planner(settings);
    const Clock::time_point call_start = Clock::now();
    int round_number = 0;
    for (;;) {
        const std::optional<RoundPlan> plan =
            planner.next(rounds_of(session.runs), seconds_since(call_start));
        if (!plan) break;
        // A signal while the builds were described, or between rounds.
        if (const int sig = stop_signal(); sig != 0) {
            session.outcome = Outcome::interrupted;
            session.interrupt_signal = sig;
            session.stopped_because = "interrupted";
            return;
        }
        ++round_number;
        std::vector<Copy> copies = queue_copies(settings, *plan, session);
        const std::size_t first = copies.front().record;
        record_environment(session.runs, first, true);
        const Clock::time_point round_start = Clock::now();
        run_round(settings, dir, *plan, session, copies, [&] {
            if (!progress) return;
            show_progress(session, round_number, std::max(planner.expected_rounds(), round_number), plan->copies,
                          seconds_since(call_start), seconds_since(round_start));
        });
        record_environment(session.runs, first, false);
        if (progress) std::fputs("\r\033[K", stderr);
        if (session.outcome != Outcome::completed) {
            // Copies ended by ptrun did not finish; they are no figures.
            std::erase_if(session.runs, [](const RunRecord& run) { return run.ended_utc.empty(); });
            session.stopped_because = session.outcome == Outcome::failed ? "a run failed" : "interrupted";
            return;
        }
        session.round_seconds.push_back(seconds_since(round_start));
        if (after_round) after_round(rounds_of(session.runs));
        // After the round's time: the profiles are no part of the round.
        if (!settings.profile) continue;
        if (verifiers[plan->build].empty()) {
            if (!session.counters_unavailable) session.counters_unavailable = "no profile: the build has no ptverify";
        } else {
            profile_round(verifiers[plan->build], session.runs, first, session.counters_unavailable);
        }
    }
    session.stopped_because = planner.stopped_because();
}

}  // namespace ptrun
