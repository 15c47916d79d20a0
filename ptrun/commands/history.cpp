#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <system_error>

#include "commands/commands.h"
#include "commands/option_table.h"
#include "decide/analyse.h"
#include "decide/gate.h"
#include "decide/history.h"
#include "model/reader.h"
#include "present/history.h"
#include "system/output.h"

namespace ptrun {

namespace {

// Exit statuses of ptrun history.
constexpr int kHistoryOk = 0;
constexpr int kHistoryGateFailed = 1;
constexpr int kHistoryBadInput = 2;

struct HistoryOptions {
    const HistoryFormat* format = &history_formats().front();
    std::string out;
    std::optional<double> fail_above;
    bool strict = false;
};

OptionTable history_table(HistoryOptions& o) {
    std::string names, listed;
    for (const HistoryFormat& format : history_formats()) {
        names += (names.empty() ? "" : "|") + std::string(format.name);
        listed += "\n" + std::string(format.name) + ": " + std::string(format.help);
    }
    auto gate = [&o](bool strict) { return gate_option(o.fail_above, o.strict, strict); };
    return {"history", "FILE|DIR...",
            "Results files, and those found under the folders, as series (one per host, build and copy count) in\n"
            "the order the calls started, with the points where a series changed, by how much, and what differs\n"
            "between the calls either side.\n",
            {
                {{"--format"}, names, "what to write:" + listed,
                 [&o, names](const std::string& value) {
                     o.format = find_history_format(value);
                     if (o.format == nullptr) throw UsageError("bad --format \"" + value + "\": " + names);
                 }},
                {{"-o", "--output"}, "OUT", "write to OUT, replaced whole (default: standard output)",
                 [&o](const std::string& value) { o.out = value; }},
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
}

int bad_input(const std::string& message) {
    std::fprintf(stderr, "ptrun history: %s\n", message.c_str());
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
        std::fprintf(stderr, "ptrun history: gate failed: %s: %s from call %s (%s), interval %.1f to %.1f %%, "
                     "more than %g %% slower (p = %.2g): %s\n", series_text(s).c_str(),
                     change_size_text(f).c_str(), first.call_id.c_str(), first.started_utc.c_str(),
                     (f.ratio_low - 1) * 100, (f.ratio_high - 1) * 100, pct, f.p_value,
                     differences_text(c.differences).c_str());
    }
    if (failed) return kHistoryGateFailed;
    std::fprintf(stderr, "ptrun history: gate passed: no series' newest change is shown slower by more than %g %%%s\n",
                 pct, o.strict ? " (strict: the whole interval)" : "");
    return kHistoryOk;
}

}  // namespace

int history_command(const Arguments& arguments) {
    HistoryOptions o;
    const OptionTable table = history_table(o);
    const std::optional<std::vector<std::string>> names = parse_options(table, arguments.args);
    if (!names) return print_help(help_text(table));
    if (names->empty()) throw UsageError("no results file or folder named");
    std::string error;
    Target target;
    if (!resolve_target(o.out.empty() ? "-" : o.out, target, error)) throw UsageError(error);
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
        analyse(*document);
        builder.add(*document, file);
    }
    for (const auto& skipped : history.skipped) {
        std::fprintf(stderr, "ptrun history: skipped: %s\n", skipped.second.c_str());
    }
    if (history.files_read == 0) return bad_input("no results file among the " + std::to_string(files.size()) +
                                                  " files named or found");
    history.duplicates = builder.duplicates();
    history.series = builder.finish();
    if (!write_output(target, o.format->render(history), error)) return bad_input(error);
    return o.fail_above ? apply_gate(history, o) : kHistoryOk;
}

}  // namespace ptrun
