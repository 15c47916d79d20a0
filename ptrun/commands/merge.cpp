#include <cstdio>

#include "commands/commands.h"
#include "commands/option_table.h"
#include "commands/output.h"
#include "decide/analyse.h"
#include "model/merge.h"
#include "model/writer.h"
#include "system/output.h"

namespace ptrun {

namespace {

OptionTable merge_table(std::string& out) {
    return {"merge", "FILE...",
            "The results of many calls (many hosts, or many calls on one host) as one results file: every run\n"
            "keeps its call, host and build; a call read twice counts once; every figure is recomputed.\n",
            {
                {{"-o", "--output"}, "OUT", "the merged results file, replaced whole (needed)",
                 [&out](const std::string& value) { out = value; }},
            },
            {{"0", "merged"}, {"2", "bad input, files that disagree, or the file could not be written"}}};
}

int failed(const std::string& message) {
    say("merge", message);
    return 2;
}

std::string counted(std::size_t n, const char* what) { return std::to_string(n) + " " + what + (n == 1 ? "" : "s"); }

}  // namespace

int merge_command(const Arguments& arguments) {
    std::string out;
    const OptionTable table = merge_table(out);
    const std::optional<std::vector<std::string>> paths = parse_options(table, arguments.args);
    if (!paths) return print_help(help_text(table));
    if (paths->empty()) throw UsageError("no results file named");
    if (out.empty()) throw UsageError("no file to write: name it with -o OUT");
    std::string error;
    Target target;
    if (!resolve_target(out, target, error, "-o")) throw UsageError(error);
    std::optional<std::vector<Source>> sources = load_all(*paths, error);  // moved into the merge, never copied
    if (!sources) return failed(error);
    MergeCount count;
    Document merged;
    try {
        merged = merge_documents(std::move(*sources), &count);
        analyse(merged);
    } catch (const MergeConflict& e) {
        return failed(std::string("cannot merge these files: ") + e.what());
    }
    // Written as it is made: the text of a large merge is larger than the document.
    const auto text = [&merged](const TextSink& sink) { write_results(merged, sink); };
    if (!write_output(target, text, error)) return failed(error);
    std::string said = counted(count.runs, "run") + " of " + counted(merged.calls.size(), "call") + " from " +
                       counted(merged.hosts.size(), "host") + " into " + out;
    if (count.duplicates > 0) said += " (" + std::to_string(count.duplicates) + " runs read twice, counted once)";
    say("merge", said);
    return 0;
}

}  // namespace ptrun
