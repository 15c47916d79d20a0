#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <system_error>

#include "commands/commands.h"
#include "commands/option_table.h"
#include "commands/output.h"
#include "decide/analyse.h"
#include "decide/gate.h"
#include "decide/history.h"
#include "model/accepted.h"
#include "model/reader.h"
#include "present/history.h"
#include "present/text.h"
#include "run/runner.h"

namespace ptrun {

namespace {

// Exit statuses of ptrun history.
constexpr int kHistoryOk = 0;
constexpr int kHistoryGateFailed = 1;
constexpr int kHistoryBadInput = 2;

struct HistoryOptions {
    OutputChoice output;
    std::optional<double> fail_above;
    bool strict = false;
    std::optional<std::string> accept, at, reason, by;
};

OptionTable history_table(HistoryOptions& o) {
    auto gate = [&o](bool strict) { return gate_option(o.fail_above, o.strict, strict); };
    OptionTable table{"history", "FILE|DIR...",
            "Results files, and those found under the folders, as series (one per machine, build and copy count)\n"
            "in the order the calls started: their levels, the points where a series changed, by how much and\n"
            "what differs either side, the calls that stood out alone, and the changes accepted.\n",
            {
                {{"--fail-above"}, "PCT", "exit 1 when a series' newest level is shown slower than its baseline\n"
                                          "(the level from its newest accepted change on, else its first level)\n"
                                          "and the estimate lies more than PCT percent below",
                 gate(false)},
                {{"--fail-above-strict"}, "PCT", "exit 1 only when the whole interval lies more than PCT percent below",
                 gate(true)},
                {{"--accept"}, "SERIES", "record in the first folder's " + std::string(kAcceptedFileName) +
                                             " that the change of SERIES (as\nshown: host, build, copies) at --at is "
                                             "known, with --reason and --by",
                 [&o](const std::string& v) { o.accept = v; }},
                {{"--at"}, "CALL", "the first call after the accepted change (its id, or its id's start)",
                 [&o](const std::string& v) { o.at = v; }},
                {{"--reason"}, "TEXT", "why the change is accepted", [&o](const std::string& v) { o.reason = v; }},
                {{"--by"}, "NAME", "who accepts it (default: the login name, LOGNAME or USERNAME)",
                 [&o](const std::string& v) { o.by = v; }},
            },
            {{std::to_string(kHistoryOk), "written (and the gate passed)"},
             {std::to_string(kHistoryGateFailed), "the gate failed"},
             {std::to_string(kHistoryBadInput), "bad input, or an output that could not be written"}}};
    std::vector<Option> options = output_options(ResultKind::history, "md", o.output);
    table.options.insert(table.options.begin(), options.begin(), options.end());
    return table;
}

int bad_input(const std::string& message) {
    say("history", message);
    return kHistoryBadInput;
}

// Every regular file named or under the folders named, each folder's in
// the order of their paths; links to folders are not followed, so a loop
// of links cannot keep the walk going, and a link to nothing or a loop of
// links is named among the files that are not results. False, and why,
// for a name that is neither file nor folder.
bool files_of(const std::vector<std::string>& names, std::vector<std::string>& files,
              std::vector<std::pair<std::string, std::string>>& skipped, std::string& error) {
    namespace fs = std::filesystem;
    for (const std::string& name : names) {
        std::error_code code;
        const fs::file_status status = fs::status(name, code);
        if (fs::is_regular_file(status)) {
            files.push_back(name);
            continue;
        }
        if (!fs::is_directory(status)) {
            error = name + ": " + (code ? code.message() : "neither a file nor a folder");
            return false;
        }
        std::vector<std::string> found;
        fs::recursive_directory_iterator walk(name, fs::directory_options::skip_permission_denied, code), end;
        for (; !code && walk != end; walk.increment(code)) {
            std::error_code link;
            if (walk->is_regular_file(link)) found.push_back(walk->path().string());
            if (!link || !walk->is_symlink(code)) continue;
            const std::string path = walk->path().string();
            skipped.emplace_back(path, path + ": " + (link == std::errc::too_many_symbolic_link_levels
                                                          ? "a loop of links"
                                                          : "a link to nothing (" + link.message() + ")"));
        }
        if (code) {
            error = name + ": " + code.message();
            return false;
        }
        std::sort(found.begin(), found.end());
        files.insert(files.end(), found.begin(), found.end());
    }
    return true;
}

// The accepted changes of every accepted-changes file among the files,
// which are then no results file to read. False, and why, for one that
// cannot be read or is not such a file.
bool take_accepted(std::vector<std::string>& files, std::vector<AcceptedChange>& accepted, std::string& error) {
    std::vector<std::string> results;
    for (const std::string& file : files) {
        if (std::filesystem::path(file).filename() != kAcceptedFileName) {
            results.push_back(file);
            continue;
        }
        std::string text;
        const auto found = load_accepted(file, text, error);
        if (!found) return false;
        accepted.insert(accepted.end(), found->begin(), found->end());
    }
    files = std::move(results);
    return true;
}

// Who is logged in: LOGNAME (POSIX), else USERNAME (Windows); empty where neither says.
std::string login_name() {
    for (const char* name : {"LOGNAME", "USERNAME"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') return value;
    }
    return "";
}

// --accept: the change recorded in the first folder named and taken at once.
bool accept_change(History& history, const HistoryOptions& o, const std::vector<std::string>& names,
                   const HistorySettings& settings, std::string& error) {
    const auto folder = std::find_if(names.begin(), names.end(), [](const std::string& n) {
        std::error_code code;
        return std::filesystem::is_directory(n, code);
    });
    if (folder == names.end()) {
        error = "--accept: no results folder named to keep " + std::string(kAcceptedFileName) + " in";
        return false;
    }
    std::size_t index = 0;
    std::optional<AcceptedChange> change = change_to_accept(history.series, *o.accept, *o.at, index, error);
    if (!change) return false;
    change->by = o.by ? *o.by : login_name();
    if (change->by.empty()) {
        error = "--accept: no login name in LOGNAME or USERNAME: say who accepts the change with --by NAME";
        return false;
    }
    change->at_utc = utc_now();
    change->why = *o.reason;
    const std::string path = (std::filesystem::path(*folder) / kAcceptedFileName).string();
    std::string text;
    Target target;
    if (!load_accepted(path, text, error) || !resolve_target(path, target, error, "--accept") ||
        !write_output(target, with_accepted(text, *change), error)) {
        return false;
    }
    accept_in(history.series[index], *change, settings);
    say("history", "accepted: " + *o.accept + " from call " + change->first_call + ", in " + path);
    return true;
}

// Each series' gate; each failure named on standard error with its figures
// and what differs between its baseline and its newest level.
int apply_gate(const History& history, const HistoryOptions& o) {
    char beyond[32];
    std::snprintf(beyond, sizeof beyond, "%g", *o.fail_above);
    bool failed = false;
    for (const Series& s : history.series) {
        if (!s.gate || !s.gate->decision.figures) continue;
        const LevelGate& g = s.gate->decision;
        const SampleComparison& f = *g.figures;
        const SeriesCall& first = s.calls[s.levels[g.newest].first_call];
        const std::string against = gate_baseline_text(s);
        if (g.result == Gate::undecided) {
            say("history", "gate undecided: " + series_name(s) + ": too few calls against " + against);
            continue;
        }
        if (g.result != Gate::fail) continue;
        failed = true;
        say("history", "gate failed: " + series_name(s) + ": the level from call " + first.call_id + " (" +
                           first.started_utc + ") against " + against + ": " + comparison_line(f) + ", more than " +
                           beyond + " % slower: " + differences_text(s.gate->differences));
    }
    if (failed) return kHistoryGateFailed;
    say("history", "gate passed: no series' newest level is shown slower than its baseline by more than " +
                       std::string(beyond) + " %" + (o.strict ? " (strict: the whole interval)" : ""));
    return kHistoryOk;
}

}  // namespace

int history_command(const Arguments& arguments) {
    HistoryOptions o;
    const OptionTable table = history_table(o);
    const std::optional<std::vector<std::string>> names = parse_options(table, arguments.args);
    if (!names) return print_help(help_text(table));
    if (names->empty()) throw UsageError("no results file or folder named");
    const Target target = output_target(o.output);
    std::string error;
    if (o.accept.has_value() != o.at.has_value() || o.accept.has_value() != o.reason.has_value() ||
        (o.by && !o.accept)) {
        throw UsageError("--accept, --at and --reason: give all three (and --by only with them)");
    }
    std::vector<std::string> files;
    History history;
    HistorySettings settings;
    settings.gate_percent = o.fail_above;
    settings.gate_strict = o.strict;
    if (!files_of(*names, files, history.skipped, error) || !take_accepted(files, settings.accepted, error)) {
        return bad_input(error);
    }
    HistoryBuilder builder;
    // One document at a time: only the series' rounds and descriptions stay.
    for (const std::string& file : files) {
        std::optional<Document> document = load_results(file, error);
        if (!document) {
            history.skipped.emplace_back(file, error);
            continue;
        }
        ++history.files_read;
        // A history shows rounds alone: no summary, comparison or citation of each file.
        analyse(*document, kRoundsOnly);
        builder.add(*document, file);
    }
    for (const auto& skipped : history.skipped) say("history", "skipped: " + skipped.second);
    if (history.files_read == 0) return bad_input("no results file among the " + std::to_string(files.size()) +
                                                  " files named or found");
    history.series = builder.finish(settings);
    history.duplicates = builder.duplicates();
    if (o.accept && !accept_change(history, o, *names, settings, error)) return bad_input(error);
    if (!write_result("history", "the history", target, o.output.format->history(history))) return kHistoryBadInput;
    return o.fail_above ? apply_gate(history, o) : kHistoryOk;
}

}  // namespace ptrun
