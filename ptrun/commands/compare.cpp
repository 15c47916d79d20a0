#include "commands/commands.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <optional>

#include "commands/option_table.h"
#include "decide/analyse.h"
#include "decide/comparisons.h"
#include "decide/gate.h"
#include "decide/levels.h"
#include "model/merge.h"
#include "present/terminal.h"

namespace ptrun {

namespace {

// Exit statuses of ptrun compare.
constexpr int kCompareOk = 0;
constexpr int kCompareGateFailed = 1;
constexpr int kCompareBadInput = 2;

struct Options {
    std::vector<std::string> files;
    std::string a_build, b_build, a_host, b_host;
    std::optional<double> fail_above;
    bool strict = false, exclude_flagged = false;
};

int bad_input(const std::string& message) {
    std::fprintf(stderr, "ptrun compare: %s\n", message.c_str());
    return kCompareBadInput;
}

template <typename Item>
std::vector<std::string> ids_of(const std::vector<Item>& items) {
    std::vector<std::string> ids;
    for (const Item& item : items) ids.push_back(item.id);
    return ids;
}

std::string joined(const std::vector<std::string>& ids) {
    std::string text;
    for (const std::string& id : ids) text += (text.empty() ? "" : ", ") + id;
    return text;
}

// The id asked for, else the first; empty (and why) when the file has no such id.
std::string choose(const std::vector<std::string>& ids, const std::string& asked, const std::string& file,
                   const char* what, std::string& error) {
    if (ids.empty()) {
        error = file + " names no " + what;
        return "";
    }
    if (asked.empty()) return ids.front();
    if (std::find(ids.begin(), ids.end(), asked) != ids.end()) return asked;
    error = file + " has no " + what + " " + asked + " (it has " + joined(ids) + ")";
    return "";
}

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

OptionTable compare_table(Options& o) {
    auto keep = [](std::string& into) { return [&into](const std::string& value) { into = value; }; };
    auto gate = [&o](bool strict) { return gate_option(o.fail_above, o.strict, strict); };
    return {"compare", "A.json [B.json]",
            "B against A for every copy count both have: the estimate of the ratio (the median of the ratios of all\n"
            "pairs of rounds) with its interval, the ratio of medians, the two-sided rank-sum test and a verdict.\n"
            "A verdict needs p at most " + number(kAlpha) + " and the whole interval (" +
                std::to_string(kConfidencePercent) + " % or more where the rounds allow) on one side of 1;\n" +
                std::to_string(kFewestDecidable) + " rounds of each build are the fewest that can reach one.\n"
            "One file compares each of its builds with its first.\n",
            {
                {{"--a-build"}, "ID", "the build of A (default: A's first)", keep(o.a_build)},
                {{"--b-build"}, "ID", "the build of B (default: every build of B)", keep(o.b_build)},
                {{"--a-host"}, "ID", "the host of A in a file of several hosts (default: the first)", keep(o.a_host)},
                {{"--b-host"}, "ID", "the host of B in a file of several hosts (default: the first)", keep(o.b_host)},
                {{"--exclude-flagged"}, "", "leave out rounds with a flagged run",
                 [&o](const std::string&) { o.exclude_flagged = true; }},
                {{"--fail-above"}, "PCT", "exit 1 when the test shows B slower and the estimate lies more than\n"
                                          "PCT percent below A", gate(false)},
                {{"--fail-above-strict"}, "PCT", "exit 1 only when the whole interval lies more than PCT percent\n"
                                                 "below A", gate(true)},
            },
            {{std::to_string(kCompareOk), "compared (and the gate passed)"},
             {std::to_string(kCompareGateFailed), "the gate failed"},
             {std::to_string(kCompareBadInput), "bad input, or a gate that cannot decide"}}};
}

std::string who_of(const ComparisonEntry& entry) { return entry.b + ", " + copies_text(entry.copies); }

int apply_gate(const std::vector<ComparisonEntry>& entries, const Options& o) {
    const double pct = *o.fail_above;
    const GateFold fold = fold_gate(entries, pct, o.strict);
    for (const std::size_t i : fold.undecided) {
        const SampleComparison& c = entries[i].figures;
        std::fprintf(stderr, "ptrun compare: gate: %s: too few runs to decide (%zu against %zu)\n",
                     who_of(entries[i]).c_str(), c.n_a, c.n_b);
    }
    for (const std::size_t i : fold.failed) {
        const SampleComparison& c = entries[i].figures;
        std::fprintf(stderr, "ptrun compare: gate failed: %s: slower by %.1f %% (interval %.1f to %.1f %%), "
                     "more than %g %% (p = %.4f)\n", who_of(entries[i]).c_str(), (1 - c.estimate) * 100,
                     (1 - c.ratio_high) * 100, (1 - c.ratio_low) * 100, pct, c.p_value);
    }
    if (fold.result == Gate::fail) return kCompareGateFailed;
    if (fold.result == Gate::undecided) {
        std::fprintf(stderr, "ptrun compare: the gate cannot decide: run at least %d rounds of each build\n",
                     kFewestDecidable);
        return kCompareBadInput;
    }
    std::fprintf(stderr, "ptrun compare: gate passed: B is not shown slower than A by more than %g %%%s\n", pct,
                 o.strict ? " (strict: the whole interval)" : "");
    for (const std::size_t i : fold.unruled) {
        std::fprintf(stderr, "ptrun compare: note: %s: the interval reaches %.1f %% below A, so these rounds "
                     "cannot rule out a slowdown of more than %g %%\n",
                     who_of(entries[i]).c_str(), (1 - entries[i].figures.ratio_low) * 100, pct);
    }
    return kCompareOk;
}

void describe(const char* role, const Source& side, const std::string& host, const std::string& id) {
    for (const Build& build : side.document.builds) {
        if (build.id != id) continue;
        std::printf("%-4s %s: build %s on %s\n     %s\n     sha256 %s\n", role, side.file.c_str(), id.c_str(),
                    host.c_str(), build.line.c_str(), build.sha256.c_str());
    }
}

int compare(const Options& o) {
    std::string error;
    std::optional<std::vector<Source>> sides = load_all(o.files, error);
    if (!sides) return bad_input(error);
    for (Source& side : *sides) analyse(side.document);
    // One file: A and B are builds (or hosts) of it.
    const Source& a = sides->front();
    const Source& b = sides->back();
    const std::string a_host = choose(ids_of(a.document.hosts), o.a_host, a.file, "host", error);
    if (a_host.empty()) return bad_input(error);
    const std::string b_host = choose(ids_of(b.document.hosts), o.b_host, b.file, "host", error);
    if (b_host.empty()) return bad_input(error);
    const std::vector<std::string> a_ids = ids_of(a.document.builds);
    const std::string a_id = choose(a_ids, o.a_build, a.file, "build", error);
    if (a_id.empty()) return bad_input(error);
    std::vector<std::string> b_ids = ids_of(b.document.builds);
    if (!o.b_build.empty()) {
        const std::string b_id = choose(b_ids, o.b_build, b.file, "build", error);
        if (b_id.empty()) return bad_input(error);
        b_ids = {b_id};
    }
    const bool one_call = o.files.size() == 1 && a_host == b_host;
    if (one_call) {
        std::erase(b_ids, a_id);
        if (b_ids.empty() && !o.b_build.empty()) {
            return bad_input("A and B are both build " + a_id + " of " + a.file + ": name two builds, or two hosts");
        }
        if (b_ids.empty()) return bad_input(a.file + " holds one build: compare it with a second file");
    } else if (o.a_build.empty() && a_ids.size() > 1) {
        std::fprintf(stderr, "ptrun compare: %s holds builds %s: A is its build %s (choose with --a-build)\n",
                     a.file.c_str(), joined(a_ids).c_str(), a_id.c_str());
    }

    // Two files may use the same build ids: there A and B name the files' sides.
    const bool two_files = o.files.size() == 2;
    auto label = [&](const char* side, const std::string& id) {
        return !two_files ? id : b_ids.size() == 1 || side[0] == 'A' ? std::string(side) : side + (":" + id);
    };
    std::vector<ComparisonEntry> entries;
    for (const std::string& b_id : b_ids) {
        for (ComparisonEntry entry : compare_sides({&a.document, a_host, a_id, "", nullptr},
                                                   {&b.document, b_host, b_id, "", nullptr}, o.exclude_flagged)) {
            entry.a = label("A", a_id);
            entry.b = label("B", b_id);
            entries.push_back(std::move(entry));
        }
    }
    if (entries.empty()) {
        return bad_input("no copy count in common: " + a.file + " and " + b.file +
                         " have no copy count with scored rounds (outside warm-up) of both builds");
    }
    describe(label("A", a_id).c_str(), a, a_host, a_id);
    for (const std::string& b_id : b_ids) describe(label("B", b_id).c_str(), b, b_host, b_id);
    std::vector<std::string> warned;
    for (const ComparisonEntry& entry : entries) {
        if (entry.differences.empty() || std::find(warned.begin(), warned.end(), entry.b) != warned.end()) continue;
        warned.push_back(entry.b);
        std::string what;
        for (const Difference& d : entry.differences) what += (what.empty() ? "" : ", ") + d.what;
        std::fprintf(stderr, "ptrun compare: warning: %s and %s differ in %s%s\n", entry.a.c_str(), entry.b.c_str(),
                     what.c_str(), one_call ? " (builds of one call, meant to differ)" : "");
    }
    std::printf("\n");
    print_comparison(stdout, entries);
    if (o.exclude_flagged) std::printf("rounds with a flagged run left out (--exclude-flagged)\n");
    // A comparison that did not reach its reader is no comparison, whatever the gate says.
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        return bad_input(std::string("cannot write the comparison to standard output: ") + std::strerror(errno));
    }
    return o.fail_above ? apply_gate(entries, o) : kCompareOk;
}

}  // namespace

int compare_command(const Arguments& arguments) {
    Options o;
    const OptionTable table = compare_table(o);
    const std::optional<std::vector<std::string>> files = parse_options(table, arguments.args);
    if (!files) return print_help(help_text(table));
    if (files->empty() || files->size() > 2) throw UsageError("one or two results files");
    o.files = *files;
    return compare(o);
}

}  // namespace ptrun
