#include "commands/commands.h"

#include <cstdio>

#include "commands/spec.h"
#include "model/merge.h"
#include "model/writer.h"
#include "present/report.h"
#include "system/output.h"

namespace ptrun {

int report_command(const std::vector<std::string>& args) {
    std::vector<std::string> paths;
    std::string format = "md", out;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--format" || arg == "-o" || arg == "--output") {
            if (i + 1 == args.size()) usage_error("report: " + arg + " needs a value");
            (arg == "--format" ? format : out) = args[++i];
        } else if (arg.rfind("--format=", 0) == 0) {
            format = arg.substr(9);
        } else if (arg.size() > 1 && arg[0] == '-') {
            usage_error("report: unknown option " + arg);
        } else {
            paths.push_back(arg);
        }
    }
    if (format != "md" && format != "csv" && format != "html") usage_error("report: --format is md, csv or html");
    if (paths.empty()) usage_error("report: usage: ptrun report [--format md|csv|html] [-o OUT] FILE...");
    std::string error;
    Target target;
    if (!resolve_target(out.empty() ? "-" : out, target, error)) usage_error(error);
    const std::optional<std::vector<Source>> sources = load_all(paths, error);
    if (!sources) {
        std::fprintf(stderr, "ptrun: %s\n", error.c_str());
        return 2;
    }
    std::string text;
    try {
        const Document doc = merge_documents(*sources);
        text = format == "md" ? report_markdown(doc) : format == "csv" ? report_csv(doc) : report_html(doc);
    } catch (const MergeConflict& e) {
        std::fprintf(stderr, "ptrun: cannot report on these files: %s\n", e.what());
        return 2;
    }
    if (!write_output(target, text, error)) {
        std::fprintf(stderr, "ptrun: %s\n", error.c_str());
        return 2;
    }
    return 0;
}

}  // namespace ptrun
