// Running the copies: each round's copies start together, each pinned to a
// processor of its own with a result file of its own, and are waited for.
#pragma once

#include <cstddef>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "model/document.h"
#include "run/planner.h"
#include "run/settings.h"

namespace ptrun {

enum class Outcome { completed, failed, interrupted };

// What the call ran: a record for every copy that finished (those ptrun
// ended are no figures), filled as the copy ran, its call and host left to
// the document they go into.
struct Session {
    std::vector<RunRecord> runs;
    std::vector<double> round_seconds;
    Outcome outcome = Outcome::completed;
    int interrupt_signal = 0;
    std::string stopped_because;
    // Why the runs' profiles lack counters, or are missing; none when whole.
    std::optional<std::string> counters_unavailable;
};

const char* outcome_name(Outcome outcome);

// The current time of day, ISO-8601 UTC.
std::string utc_now();

// The largest score a copy may have: a round sums up to kMaxCopies (2^10)
// copies, and a spread squares the rounds and sums up to 2^10 squares, so
// below sqrt(DBL_MAX) / 2^20 (about 1.28e148) every figure stays finite. The
// bound is a round number, so that the figure the manual gives is the bound
// exactly. Real scores are below 1e12; a larger Result is a broken pt, and
// counted as a failed run.
inline constexpr double kMaxScore = 1e148;
static_assert(kMaxScore * 1048576.0 * kMaxScore * 1048576.0 <= std::numeric_limits<double>::max());

// Why a Result text is no score (empty when it is one, then in score): a
// finite positive number up to kMaxScore and nothing else, all of it.
std::string score_problem(const std::string& text, double& score);

// The largest result file ptrun reads: pt writes a few hundred bytes, and a
// larger file is refused unread, saying so, rather than taken as no result.
inline constexpr std::size_t kMaxResultFileBytes = 1 << 20;

// A copy's Result and Error from its result file, or why it cannot be read.
struct ResultFile {
    std::string result, error, problem;
};
ResultFile read_result_file(const std::string& path);

// One copy's time limit: --timeout, or the default times the copies that
// share a processor.
inline constexpr double kDefaultTimeoutSeconds = 600;
double copy_limit_s(const Settings& settings, int copies);

// Told the call's rounds so far after each round that completed, outside
// the round's time.
using AfterRound = std::function<void(const std::vector<RoundFigure>& rounds)>;

// Runs the planned rounds in dir until the plan ends, a copy fails or a
// signal ends the call; verifiers (each build's ptverify, or empty) profile
// every round's copies unless the settings say not to.
void run_all(const Settings& settings, const std::vector<std::string>& verifiers, const std::string& dir,
             Session& session, const AfterRound& after_round = {});

}  // namespace ptrun
