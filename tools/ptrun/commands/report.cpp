#include <cstdio>

#include "commands/commands.h"
#include "commands/spec.h"
#include "model/merge.h"
#include "present/report.h"
#include "system/output.h"

namespace ptrun {

namespace {

struct Format {
    std::string_view name, help;
    std::string (*render)(const Document&);
};
constexpr Format kFormats[] = {{"md", "Markdown tables (the default)", report_markdown},
                               {"csv", "one row per run, for spreadsheets", report_csv},
                               {"html", "one self-contained page with SVG charts", report_html}};

const Format* find_format(std::string_view name) {
    for (const Format& format : kFormats) {
        if (format.name == name) return &format;
    }
    return nullptr;
}

struct ReportOptions {
    const Format* format = &kFormats[0];
    std::string out;
};

CommandSpec report_spec(ReportOptions& o) {
    std::string names, formats;
    for (const Format& format : kFormats) {
        names += (names.empty() ? "" : "|") + std::string(format.name);
        formats += "\n" + std::string(format.name) + ": " + std::string(format.help);
    }
    return {"report", "FILE...",
            "One or more results files, merged as ptrun merge would, every figure recomputed from the runs.\n",
            {
                {{"--format"}, names, "what to write:" + formats,
                 [&o, names](const std::string& value) {
                     o.format = find_format(value);
                     if (o.format == nullptr) throw UsageError("bad --format \"" + value + "\": " + names);
                 }},
                {{"-o", "--output"}, "OUT", "write to OUT, replaced whole (default: standard output)",
                 [&o](const std::string& value) { o.out = value; }},
            },
            "Exit status: 0 written, 2 bad input or the report could not be written.\n"};
}

// Says why on standard error; bad input or a report that was not written.
int failed(const std::string& message) {
    std::fprintf(stderr, "ptrun: %s\n", message.c_str());
    return 2;
}

}  // namespace

int report_command(const Arguments& arguments) {
    ReportOptions o;
    const CommandSpec spec = report_spec(o);
    const std::optional<std::vector<std::string>> paths = parse_options(spec, arguments.args);
    if (!paths) return print_help(help_text(spec));
    if (paths->empty()) throw UsageError("no results file named");
    std::string error;
    Target target;
    if (!resolve_target(o.out.empty() ? "-" : o.out, target, error)) throw UsageError(error);
    const std::optional<std::vector<Source>> sources = load_all(*paths, error);
    if (!sources) return failed(error);
    std::string text;
    try {
        text = o.format->render(merge_documents(*sources));
    } catch (const MergeConflict& e) {
        return failed(std::string("cannot report on these files: ") + e.what());
    }
    return write_output(target, text, error) ? 0 : failed(error);
}

}  // namespace ptrun
