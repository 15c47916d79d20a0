// Running the copies: each round's copies start together, each pinned to a
// processor of its own with a result file of its own, and are waited for.
#pragma once

#include <sys/types.h>

#include <cmath>
#include <ctime>
#include <limits>
#include <string>
#include <vector>

#include "run/environment.h"
#include "run/settings.h"
#include "run/planner.h"

namespace ptrun {

struct Run {
    std::size_t build = 0;  // index into the call's builds
    int copies = 0;
    int round = 0;
    int copy = 0;
    int cpu = 0;
    bool warmup = false;
    pid_t pid = 0;
    timespec started{};
    std::string started_utc, ended_utc;
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
    int messages_fd = -1;               // what the copy writes on standard error, while it runs
    std::string raw_messages;           // the last 64 KiB of it
    bool messages_cut = false;          // only the last part of pt's messages was kept
    double timeout_s = 0;
    bool timed_out = false;
    bool low_share = false;
    bool speed_changed = false;
    Snapshot environment_before, environment_after;  // of the run's processor, just outside the round
    bool flagged() const { return low_share || speed_changed; }
    std::string name() const;
};

enum class Outcome { completed, failed, interrupted };

struct Session {
    std::vector<Run> runs;
    std::vector<double> round_seconds;
    Outcome outcome = Outcome::completed;
    int interrupt_signal = 0;
    std::string stopped_because;
};

const char* outcome_name(Outcome outcome);

// The current time of day, ISO-8601 UTC.
std::string utc_now();

// Blocks the signals that end a call, at once when ptrun starts, so that one
// arriving at any time ends it cleanly; a signal ignored by ptrun's parent
// stays ignored. Also ignores SIGPIPE and makes ptrun its copies' subreaper.
void take_signals();
// In a child about to run another program: the signals as a program expects.
void reset_child_signals();

// Reads what the copy wrote on standard error so far, keeping the last 64 KiB
// (and messages_cut when more came).
void read_messages(Run& run);

// The largest score a copy may have: a round sums up to kMaxCopies (2^10)
// copies, and a spread squares the rounds and sums up to 2^10 squares, so
// sqrt(DBL_MAX) / 2^20 keeps every figure finite. Real scores are below
// 1e12; a larger Result is a broken pt, and counted as a failed run.
inline const double kMaxScore = std::sqrt(std::numeric_limits<double>::max()) / 1048576.0;

// Why a Result text is no score (empty when it is one, then in score): a
// finite positive number up to kMaxScore and nothing else.
std::string score_problem(const std::string& text, double& score);

// One copy's time limit: --timeout, or the default times the copies that
// share a processor.
inline constexpr double kDefaultTimeoutSeconds = 600;
double copy_limit_s(const Settings& settings, int copies);

// Runs the planned rounds in dir until the plan ends, a copy fails or a
// signal ends the call.
void run_all(const Settings& settings, const std::string& dir, Session& session);

}  // namespace ptrun
