#include "commands/commands.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "commands/option_table.h"
#include "commands/output.h"
#include "decide/compare.h"
#include "decide/levels.h"
#include "model/merge.h"
#include "present/text.h"

namespace ptrun {

namespace {

// Exit statuses of ptrun compare.
constexpr int kCompareOk = 0;
constexpr int kCompareGateFailed = 1;
constexpr int kCompareBadInput = 2;

struct Options {
    std::vector<std::string> files;
    CompareRequest request;
    std::optional<double> fail_above;
    bool strict = false;
    OutputChoice output;
};

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

OptionTable compare_table(Options& o) {
    auto keep = [](std::string& into) { return [&into](const std::string& value) { into = value; }; };
    auto gate = [&o](bool strict) { return gate_option(o.fail_above, o.strict, strict); };
    CompareRequest& r = o.request;
    OptionTable table{"compare", "A.json [B.json]",
            "B against A for every copy count both have: the estimate of the ratio with its interval, the ratio of\n"
            "medians, the two-sided test and a verdict. Builds of one call, whose rounds were interleaved, are\n"
            "compared in pairs (a round of each, run one after the other) by the signed-rank test from " +
                std::to_string(kFewestPairs) + " pairs;\nother rounds by the rank-sum test.\n"
            "A verdict needs p at most " + number(kAlpha) + " and the whole interval (" +
                std::to_string(kConfidencePercent) + " % or more where the rounds allow) on one side of 1;\n" +
                std::to_string(kFewestDecidable) + " rounds of each build are the fewest that can reach one.\n"
            "One file compares each of its builds with its first.\n",
            {
                {{"--a-build"}, "ID", "the build of A (default: A's first)", keep(r.a_build)},
                {{"--b-build"}, "ID", "the build of B (default: every build of B)", keep(r.b_build)},
                {{"--a-host"}, "ID", "the host of A in a file of several hosts (default: the first)", keep(r.a_host)},
                {{"--b-host"}, "ID", "the host of B in a file of several hosts (default: the first)", keep(r.b_host)},
                {{"--exclude-flagged"}, "", "leave out rounds with a flagged run",
                 [&r](const std::string&) { r.exclude_flagged = true; }},
                {{"--fail-above"}, "PCT", "exit 1 when the test shows B slower and the estimate lies more than\n"
                                          "PCT percent below A", gate(false)},
                {{"--fail-above-strict"}, "PCT", "exit 1 only when the whole interval lies more than PCT percent\n"
                                                 "below A", gate(true)},
            },
            {{std::to_string(kCompareOk), "compared (and the gate passed)"},
             {std::to_string(kCompareGateFailed), "the gate failed"},
             {std::to_string(kCompareBadInput),
              "bad input, a gate that cannot decide, or a comparison that could not be written"}}};
    for (Option& option : output_options(ResultKind::comparison, "table", o.output)) {
        table.options.push_back(std::move(option));
    }
    return table;
}

// Says what the comparison could not be, and why.
int bad_input(const std::string& message) {
    say("compare", message);
    return kCompareBadInput;
}

int compare(const Options& o) {
    const Target target = output_target(o.output);
    std::string error;
    std::optional<std::vector<Source>> sources = load_all(o.files, error);
    if (!sources) return bad_input(error);
    const std::optional<Comparison> comparison = compare_files(*sources, o.request, error);
    if (!comparison) return bad_input(error);
    for (const std::string& note : comparison->notes) say("compare", note);
    std::vector<std::string> warned;
    for (const ComparisonEntry& entry : comparison->entries) {
        if (entry.differences.empty() || std::find(warned.begin(), warned.end(), entry.b) != warned.end()) continue;
        warned.push_back(entry.b);
        std::string what;
        for (const Difference& d : entry.differences) what += (what.empty() ? "" : ", ") + d.what;
        say("compare", "warning: " + entry.a + " and " + entry.b + " differ in " + what +
                           (comparison->one_call ? " (builds of one call, meant to differ)" : ""));
    }
    // A comparison that did not reach its reader is no comparison, whatever the gate says.
    if (!write_result("compare", "the comparison", target, o.output.format->comparison(*comparison))) {
        return kCompareBadInput;
    }
    for (const std::string& line : gate_lines(*comparison)) say("compare", line);
    if (!comparison->gate_rule) return kCompareOk;
    switch (comparison->gate.result) {
        case Gate::fail: return kCompareGateFailed;
        case Gate::undecided: return kCompareBadInput;
        case Gate::pass: break;
    }
    return kCompareOk;
}

}  // namespace

int compare_command(const Arguments& arguments) {
    Options o;
    const OptionTable table = compare_table(o);
    const std::optional<std::vector<std::string>> files = parse_options(table, arguments.args);
    if (!files) return print_help(help_text(table));
    if (files->empty() || files->size() > 2) throw UsageError("one or two results files");
    o.files = *files;
    if (o.fail_above) o.request.gate = GateRule{*o.fail_above, o.strict};
    return compare(o);
}

}  // namespace ptrun
