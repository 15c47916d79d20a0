// CSV: one row per run, and one per host that produced nothing, for spreadsheets.
#include <cstdio>
#include <map>
#include <string>
#include <tuple>

#include "decide/compare.h"
#include "present/page.h"
#include "present/text.h"

namespace ptrun {

namespace {

std::string csv_number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

// The profile's columns: each module's milliseconds per unit, then each
// module's counts per unit of each event; empty where not measured.
std::string profile_head() {
    std::string head;
    for (const char* module : kModuleNames) head += std::string(",ms_") + module;
    for (const char* module : kModuleNames) {
        for (const char* event : kEventNames) head += std::string(",") + module + "_" + event;
    }
    return head;
}

std::string profile_cells(const RunRecord& run) {
    std::string cells;
    for (std::size_t m = 0; m < kModuleCount; ++m) {
        cells += "," + (run.module_ms ? csv_number((*run.module_ms)[m]) : std::string());
    }
    for (std::size_t m = 0; m < kModuleCount; ++m) {
        for (std::size_t e = 0; e < kEventCount; ++e) {
            const bool counted = run.module_counters && (*run.module_counters)[m][e];
            cells += "," + (counted ? csv_number(*(*run.module_counters)[m][e]) : std::string());
        }
    }
    return cells;
}

}  // namespace

std::string csv_field(std::string text, bool is_text) {
    // A control character would reach whatever shows the cell raw; a newline in quotes is the field's own.
    text = visible(text, true);
    if (is_text && !text.empty() && std::string("=+-@\t\r").find(text[0]) != std::string::npos) text = "'" + text;
    if (text.find_first_of(",\"\n\r") == std::string::npos) return text;
    std::string quoted = "\"";
    for (const char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

std::string report_csv(const Document& doc) {
    std::string out =
        "call_id,host,build,copies,round,copy,cpu,warmup,score,wall_s,share,involuntary_switches,exit_code,"
        "flagged,low_share,speed_changed,started_utc,ended_utc,error,pt_messages,outcome,percentile_in_kind,"
        "slow_for_its_kind" + profile_head() + "\r\n";
    // Each run's host at its build and copy count, among the hosts of its kind.
    std::map<std::tuple<std::string, std::string, int>, const HostStanding*> standing;
    for (const HostStanding& s : doc.standings) standing[{s.host, s.build, s.copies}] = &s;
    for (const RunRecord& run : doc.runs) {
        std::vector<std::string> cells = {
            csv_field(run.call_id), csv_field(run.host), csv_field(run.build), std::to_string(run.copies),
            std::to_string(run.round), std::to_string(run.copy), std::to_string(run.cpu),
            run.warmup ? "true" : "false", run.score ? csv_number(*run.score) : "", csv_number(run.wall_s),
            csv_number(run.share), std::to_string(run.involuntary_switches), std::to_string(run.exit_code),
            run.flagged ? "true" : "false", run.low_share ? "true" : "false", run.speed_changed ? "true" : "false",
            csv_field(run.started_utc), csv_field(run.ended_utc), csv_field(run.error.value_or("")),
            csv_field(joined(run.pt_messages, "\n")), ""};
        const auto s = standing.find({run.host, run.build, run.copies});
        cells.push_back(s == standing.end() ? "" : csv_number(s->second->percentile));
        cells.push_back(s == standing.end() ? "" : s->second->outlier ? "true" : "false");
        out += joined(cells, ",") + profile_cells(run) + "\r\n";
    }
    // A host that produced nothing is a row too, or the table would hide it.
    for (const CallRecord& call : doc.calls) {
        if (call.outcome != kNoResults) continue;
        out += csv_field(call.call_id) + "," + csv_field(call.host) + std::string(19, ',') +
               csv_field(std::string(kNoResults) + " (" + call.no_results_reason.value_or("") + ")") + ",," +
               std::string(kModuleCount * (1 + kEventCount), ',') + "\r\n";
    }
    return out;
}

// A row per comparison entry and one per module of it, each figure in the
// words every format uses (coverage in percent).
std::string comparison_csv(const Comparison& comparison) {
    std::string out = "figure,copies,a,b,n_a,n_b,flagged_a,flagged_b,median_a,median_b,ratio,estimate,ratio_low,"
                      "ratio_high,coverage_percent,p_value,verdict,share_of_difference,detectable_slowdown,test,"
                      "pairs\r\n";
    const auto row = [&out](const std::string& figure, const ComparisonEntry& e, const SampleComparison& c,
                            const std::string& flagged, const std::string& verdict, const std::string& share) {
        char coverage[32];
        std::snprintf(coverage, sizeof coverage, "%.1f", c.confidence * 100);
        out += joined({csv_field(figure), std::to_string(e.copies), csv_field(e.a), csv_field(e.b),
                       std::to_string(c.n_a), std::to_string(c.n_b), flagged, csv_number(c.median_a),
                       csv_number(c.median_b), ratio_text(c.ratio), ratio_text(c.estimate), ratio_text(c.ratio_low),
                       ratio_text(c.ratio_high), coverage, p_text(c.p_value), csv_field(verdict), share,
                       c.detectable_slowdown ? csv_number(*c.detectable_slowdown) : "", test_text(c),
                       std::to_string(c.pairs)},
                      ",") +
               "\r\n";
    };
    for (const ComparisonEntry& e : comparison.entries) {
        const std::string flagged = std::to_string(e.flagged_a) + "," + std::to_string(e.flagged_b);
        row("rate score", e, e.figures, flagged, verdict_words(e.figures), "");
        for (const ModuleComparison& m : e.modules) {
            row(std::string("ms ") + kModuleNames[m.module], e, m.figures, ",", module_verdict_words(m.figures),
                m.share ? ratio_text(*m.share) : "");
        }
    }
    return out;
}

}  // namespace ptrun
