#include <cstdio>

#include "commands/commands.h"
#include "commands/option_table.h"
#include "decide/analyse.h"
#include "model/merge.h"
#include "present/formats.h"
#include "system/output.h"

namespace ptrun {

namespace {

struct ReportOptions {
    const Format* format = &formats().front();
    std::string out;
};

OptionTable report_table(ReportOptions& o) {
    std::string names, listed;
    for (const Format& format : formats()) {
        names += (names.empty() ? "" : "|") + std::string(format.name);
        listed += "\n" + std::string(format.name) + ": " + std::string(format.help);
    }
    return {"report", "FILE...",
            "One or more results files, merged as ptrun merge would, every figure recomputed from the runs.\n",
            {
                {{"--format"}, names, "what to write:" + listed,
                 [&o, names](const std::string& value) {
                     o.format = find_format(value);
                     if (o.format == nullptr) throw UsageError("bad --format \"" + value + "\": " + names);
                 }},
                {{"-o", "--output"}, "OUT", "write to OUT, replaced whole (default: standard output)",
                 [&o](const std::string& value) { o.out = value; }},
            },
            {{"0", "written"}, {"2", "bad input, files that disagree, or the report could not be written"}}};
}

// Says why on standard error; bad input or a report that was not written.
int failed(const std::string& message) {
    std::fprintf(stderr, "ptrun: %s\n", message.c_str());
    return 2;
}

}  // namespace

int report_command(const Arguments& arguments) {
    ReportOptions o;
    const OptionTable table = report_table(o);
    const std::optional<std::vector<std::string>> paths = parse_options(table, arguments.args);
    if (!paths) return print_help(help_text(table));
    if (paths->empty()) throw UsageError("no results file named");
    std::string error;
    Target target;
    if (!resolve_target(o.out.empty() ? "-" : o.out, target, error, "-o")) throw UsageError(error);
    const std::optional<std::vector<Source>> sources = load_all(*paths, error);
    if (!sources) return failed(error);
    std::string text;
    try {
        Document merged = merge_documents(std::move(*sources));
        analyse(merged);
        text = o.format->render(merged);
    } catch (const MergeConflict& e) {
        return failed(std::string("cannot report on these files: ") + e.what());
    }
    return write_output(target, text, error) ? 0 : failed(error);
}

}  // namespace ptrun
