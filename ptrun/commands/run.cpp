#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <string>

#include "commands/commands.h"
#include "commands/run_options.h"
#include "decide/analyse.h"
#include "decide/levels.h"
#include "decide/power.h"
#include "model/writer.h"
#include "present/terminal.h"
#include "run/machine.h"
#include "run/results.h"
#include "run/runner.h"
#include "run/validation.h"
#include "system/host.h"
#include "system/output.h"
#include "system/signals.h"

namespace ptrun {

namespace {

namespace fs = std::filesystem;

// Says so on standard error when what the user asked for could not be
// written: every such loss makes the call fail.
bool written(bool ok, const std::string& error) {
    if (!ok) std::fprintf(stderr, "ptrun: %s\n", error.c_str());
    return ok;
}

// What is known before the first round and better said now than after the
// whole call: crowded processors, rounds too few for a verdict.
void note_the_plan(const Settings& settings) {
    for (int copies : settings.copies) {
        if (copies > static_cast<int>(settings.cpus.size())) {
            std::fprintf(stderr,
                         "ptrun: note: %d copies on %zu processors: copies share processors, so each scores less "
                         "and the rate score says little about the machine\n",
                         copies, settings.cpus.size());
        }
    }
    const int most_rounds = settings.until_cv ? (settings.max_runs > 0 ? settings.max_runs : kMaxRuns) : settings.runs;
    if (settings.pts.size() > 1 && most_rounds < kFewestDecidable) {
        std::fprintf(stderr,
                     "ptrun: note: %d rounds of each build cannot reach a verdict (no outcome of so few reaches "
                     "p <= %g): %d rounds of each are the fewest that can (--runs %d)\n",
                     most_rounds, kAlpha, kFewestDecidable, kFewestDecidable);
    }
}

// The builds as described; two of one binary said to be an A/A call.
std::vector<Build> describe_builds(const Settings& settings) {
    std::vector<Build> builds;
    for (std::size_t i = 0; i < settings.pts.size(); ++i) {
        builds.push_back(describe_build(build_id(i), settings.pts[i]));
        for (std::size_t j = 0; j < i; ++j) {
            if (builds[j].sha256.empty() || builds[j].sha256 != builds[i].sha256) continue;
            std::fprintf(stderr,
                         "ptrun: note: builds %s and %s are the same binary (sha256 %s): an A/A call, whose "
                         "differences are the machine's\n",
                         builds[j].id.c_str(), builds[i].id.c_str(), builds[i].sha256.c_str());
        }
    }
    return builds;
}

// With two builds or more: how many rounds of each a slowdown of 1 % and of
// 2 % would need to be seen 80 % of the time, were rounds to spread as the
// first few pairs of A and B did (the rounds of one number, run one after the
// other, which compare's paired test takes together), said once per copy
// count as soon as it has them, so that a call too short to see a slowdown
// can be stopped and planned again.
class RoundsNeededNote {
public:
    explicit RoundsNeededNote(const std::vector<Build>& builds) : builds_(builds) {}

    void operator()(const std::vector<RoundFigure>& rounds) {
        if (builds_.size() < 2) return;
        // Per copy count, per round: A's and B's score (0 until run).
        std::map<int, std::map<int, std::pair<double, double>>> by_round;
        for (const RoundFigure& r : rounds) {
            if (r.warmup || noted_.count(r.copies) != 0) continue;
            auto& [a, b] = by_round[r.copies][r.round];
            if (r.build == builds_[0].id) a = r.rate;
            if (r.build == builds_[1].id) b = r.rate;
        }
        for (const auto& [copies, pairs] : by_round) {
            std::vector<double> a, b;
            for (const auto& [round, pair] : pairs) {
                if (pair.first <= 0 || pair.second <= 0 || a.size() == kFirst) continue;
                a.push_back(pair.first);
                b.push_back(pair.second);
            }
            if (a.size() < kFirst) continue;
            noted_.insert(copies);
            say(copies, pair_log_spread(a, b));
        }
    }

private:
    static constexpr std::size_t kFirst = 3;

    void say(int copies, const std::vector<double>& spread) const {
        std::string needs[2];
        for (const int percent : {1, 2}) {
            const std::optional<std::size_t> n = rounds_needed(spread, percent / 100.0, 10000, kAlpha, true);
            needs[percent - 1] = n ? std::to_string(*n) + " rounds of each" : "more than 10000 rounds of each";
        }
        std::fprintf(stderr,
                     "ptrun: note: %s: were rounds to spread as the first %zu pairs of %s and %s did, a slowdown "
                     "of 1 %% would be seen %d %% of the time with %s, one of 2 %% with %s\n",
                     copies_text(copies).c_str(), kFirst, builds_[0].id.c_str(), builds_[1].id.c_str(),
                     kPowerPercent, needs[0].c_str(), needs[1].c_str());
    }

    const std::vector<Build>& builds_;
    std::set<int> noted_;
};

int run(const Settings& settings) {
    CallRecord call;
    call.call_id = new_call_id();
    call.started_utc = utc_now();
    note_the_plan(settings);
    const Machine machine = describe_machine(settings.cpus, settings.pts);
    std::vector<Build> builds = describe_builds(settings);
    if (!validate_builds(builds, settings.allow_unvalidated)) return 2;

    std::string error;
    std::string dir = settings.keep;
    if (dir.empty()) {
        const std::string base = temporary_base(error);
        if (!base.empty()) dir = make_private_folder(base, error);
        if (dir.empty()) {
            std::fprintf(stderr, "ptrun: cannot make a temporary folder: %s\n", error.c_str());
            return 1;
        }
    }
    Session session;
    std::vector<std::string> verifiers;
    for (const Build& build : builds) verifiers.push_back(build.verifier);
    run_all(settings, verifiers, dir, session, RoundsNeededNote(builds));
    if (settings.keep.empty()) {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }
    call.ended_utc = utc_now();
    Document doc = results_document(settings, call, machine, builds, session);
    analyse(doc);

    // The figures first: nothing that happens to the terminal loses them.
    int code = 0;
    Target target;
    if (!settings.json.empty()) {
        if (!written(resolve_target(settings.json, target, error) && write_output(target, dump(doc), error), error)) {
            code = 1;
        }
    }
    // With the figures on standard output, the table goes to standard error.
    std::FILE* table = target.standard_output ? stderr : stdout;
    std::fputs(terminal_table(doc).c_str(), table);
    if (table == stdout && (std::ferror(stdout) != 0 || std::fflush(stdout) != 0)) {
        written(false, std::string("cannot write the table to standard output: ") + std::strerror(errno));
        code = 1;
    }
    if (session.outcome == Outcome::failed) {
        for (const RunRecord& run : session.runs) {
            if (run.score) continue;
            std::fprintf(stderr, "ptrun: copies %d, round %d, copy %d failed: ", run.copies, run.round, run.copy);
            if (run.exit_code >= 0) std::fprintf(stderr, "exit code %d: ", run.exit_code);
            std::fprintf(stderr, "%s\n", run.error.value_or("").c_str());
        }
        code = 1;
    } else if (session.outcome == Outcome::interrupted) {
        std::fprintf(stderr, "ptrun: interrupted; every copy has been ended\n");
        code = 128 + session.interrupt_signal;
    }
    return code;
}

}  // namespace

int run_command(const Arguments& arguments) {
    // Taken before anything is checked or made, so that no signal finds a
    // half-made folder.
    take_signals();
    const std::optional<Settings> settings = read_run_settings(arguments.args, arguments.command_line);
    return settings ? run(*settings) : print_help(run_help());
}

std::string run_help() {
    RunInput ignored;
    return help_text(run_table(ignored));
}

}  // namespace ptrun
