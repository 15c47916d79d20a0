#include <cstdio>

#include "commands/commands.h"
#include "commands/option_table.h"
#include "commands/output.h"
#include "decide/analyse.h"
#include "model/merge.h"

namespace ptrun {

namespace {

OptionTable report_table(OutputChoice& o) {
    return {"report", "FILE...",
            "One or more results files, merged as ptrun merge would, every figure recomputed from the runs.\n",
            output_options(ResultKind::report, "md", o),
            {{"0", "written"}, {"2", "bad input, files that disagree, or the report could not be written"}}};
}

// Says why on standard error; bad input or a report that was not written.
int failed(const std::string& message) {
    say("report", message);
    return 2;
}

}  // namespace

int report_command(const Arguments& arguments) {
    OutputChoice o;
    const OptionTable table = report_table(o);
    const std::optional<std::vector<std::string>> paths = parse_options(table, arguments.args);
    if (!paths) return print_help(help_text(table));
    if (paths->empty()) throw UsageError("no results file named");
    const Target target = output_target(o);
    std::string error;
    const std::optional<std::vector<Source>> sources = load_all(*paths, error);
    if (!sources) return failed(error);
    std::string text;
    try {
        Document merged = merge_documents(std::move(*sources));
        // Only what the format shows: a CSV of runs has no use for comparisons.
        analyse(merged, o.format->report_figures);
        text = o.format->report(merged);
    } catch (const MergeConflict& e) {
        return failed(std::string("cannot report on these files: ") + e.what());
    }
    return write_result("report", "the report", target, text) ? 0 : 2;
}

}  // namespace ptrun
