#include <algorithm>
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
#include "model/reader.h"
#include "present/history.h"
#include "present/text.h"

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
};

OptionTable history_table(HistoryOptions& o) {
    auto gate = [&o](bool strict) { return gate_option(o.fail_above, o.strict, strict); };
    OptionTable table{"history", "FILE|DIR...",
            "Results files, and those found under the folders, as series (one per host, build and copy count) in\n"
            "the order the calls started, with the points where a series changed, by how much, and what differs\n"
            "between the calls either side.\n",
            {
                {{"--fail-above"}, "PCT", "exit 1 when the newest change of a series is shown slower and its\n"
                                          "estimate lies more than PCT percent below the calls before it",
                 gate(false)},
                {{"--fail-above-strict"}, "PCT", "exit 1 only when the newest change's whole interval lies more\n"
                                                 "than PCT percent below",
                 gate(true)},
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
// of links cannot keep the walk going. False, and why, for a name that is
// neither.
bool files_of(const std::vector<std::string>& names, std::vector<std::string>& files, std::string& error) {
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
            std::error_code ignored;
            if (walk->is_regular_file(ignored)) found.push_back(walk->path().string());
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

// The newest change of each series against the gate; each failure named on
// standard error with its cause.
int apply_gate(const History& history, const HistoryOptions& o) {
    const double pct = *o.fail_above;
    bool failed = false;
    for (const Series& s : history.series) {
        if (s.changes.empty()) continue;
        const SeriesChange& c = s.changes.back();
        const SampleComparison& f = c.point.comparison;
        if (gate(f, pct, o.strict) != Gate::fail) continue;
        failed = true;
        const SeriesCall& first = s.calls[c.first_call];
        char beyond[32];
        std::snprintf(beyond, sizeof beyond, "%g", pct);
        say("history", "gate failed: " + series_text(s) + ": " + change_size_text(f) + " from call " + first.call_id +
                           " (" + first.started_utc + "), " + comparison_line(f) + ", more than " + beyond +
                           " % slower: " + differences_text(c.differences));
    }
    if (failed) return kHistoryGateFailed;
    char said[128];
    std::snprintf(said, sizeof said, "gate passed: no series' newest change is shown slower by more than %g %%%s", pct,
                  o.strict ? " (strict: the whole interval)" : "");
    say("history", said);
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
    std::vector<std::string> files;
    if (!files_of(*names, files, error)) return bad_input(error);
    History history;
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
    history.duplicates = builder.duplicates();
    history.series = builder.finish();
    if (!write_result("history", "the history", target, o.output.format->history(history))) return kHistoryBadInput;
    return o.fail_above ? apply_gate(history, o) : kHistoryOk;
}

}  // namespace ptrun
