#include "commands/commands.h"

#include <cstdio>

#include "commands/spec.h"
#include "model/merge.h"
#include "model/writer.h"
#include "system/output.h"

namespace ptrun {

int merge_command(const std::vector<std::string>& args) {
    std::vector<std::string> paths;
    std::string out;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "-o" || args[i] == "--output") {
            if (i + 1 == args.size()) usage_error("merge: " + args[i] + " needs a file");
            out = args[++i];
        } else if (args[i].size() > 1 && args[i][0] == '-') {
            usage_error("merge: unknown option " + args[i]);
        } else {
            paths.push_back(args[i]);
        }
    }
    if (paths.empty() || out.empty()) usage_error("merge: usage: ptrun merge FILE... -o OUT");
    std::string error;
    Target target;
    if (!resolve_target(out, target, error)) usage_error(error);
    const std::optional<std::vector<Source>> sources = load_all(paths, error);
    if (!sources) {
        std::fprintf(stderr, "ptrun: %s\n", error.c_str());
        return 2;
    }
    MergeCount count;
    Document merged;
    try {
        merged = merge_documents(*sources, &count);
    } catch (const MergeConflict& e) {
        std::fprintf(stderr, "ptrun: cannot merge these files: %s\n", e.what());
        return 2;
    }
    if (!write_output(target, dump(merged), error)) {
        std::fprintf(stderr, "ptrun: %s\n", error.c_str());
        return 2;
    }
    auto counted = [](std::size_t n, const char* what) { return std::to_string(n) + " " + what + (n == 1 ? "" : "s"); };
    std::fprintf(stderr, "ptrun: %s of %s from %s into %s", counted(count.runs, "run").c_str(),
                 counted(merged.calls.size(), "call").c_str(), counted(merged.hosts.size(), "host").c_str(),
                 out.c_str());
    if (count.duplicates > 0) std::fprintf(stderr, " (%zu runs read twice, counted once)", count.duplicates);
    std::fprintf(stderr, "\n");
    return 0;
}

}  // namespace ptrun
