#include "present/page.h"

#include "decide/standing.h"

#include <algorithm>
#include <set>
#include <unordered_map>

#include "decide/analyse.h"
#include "model/model.h"
#include "present/svg.h"
#include "decide/power.h"
#include "present/text.h"

namespace ptrun {

std::string joined(const std::vector<std::string>& texts, const char* separator) {
    std::string out;
    for (const std::string& text : texts) out += (out.empty() ? "" : separator) + text;
    return out;
}

namespace {

// What belongs to one host, gathered in one pass over the document, so that
// a report of many hosts costs no more than its runs.
struct HostPart {
    std::vector<const RunRecord*> runs;
    std::vector<const SummaryFigure*> summary;
    std::vector<const CallRecord*> calls;
    std::vector<const ComparisonEntry*> comparisons;
    std::set<std::string> builds;
};

std::unordered_map<std::string, HostPart> parts_of(const Document& doc) {
    std::unordered_map<std::string, HostPart> parts;
    for (const RunRecord& run : doc.runs) {
        HostPart& part = parts[run.host];
        part.runs.push_back(&run);
        part.builds.insert(run.build);
    }
    for (const SummaryFigure& s : doc.summary) parts[s.host].summary.push_back(&s);
    for (const CallRecord& call : doc.calls) parts[call.host].calls.push_back(&call);
    for (const ComparisonEntry& e : doc.comparisons) {
        if (!e.call_id.empty()) parts[e.host].comparisons.push_back(&e);  // the fleet's are side by side
    }
    return parts;
}

std::string yes_no(bool value) { return value ? "yes" : "no"; }

std::string percent(double fraction) { return number_text(fraction * 100, 1) + " %"; }

void add_fact(Section& section, const std::string& name, const std::string& value) {
    if (!value.empty()) section.facts.emplace_back(name, value);
}

void environment_facts(Section& section, const Environment& environment) {
    add_fact(section, "smt", environment.smt.value_or(""));
    add_fact(section, "microcode", environment.microcode.value_or(""));
    add_fact(section, "boost", environment.boost.value_or(""));
    add_fact(section, "hypervisor", environment.hypervisor.value_or(""));
    std::vector<std::string> temperatures, cpus, vulnerabilities;
    for (const auto& [name, value] : environment.now.temperatures_c) {
        temperatures.push_back(name + ": " + number_text(value, 1) + " \u00b0C");
    }
    for (const CpuState& cpu : environment.now.cpus) {
        cpus.push_back(std::to_string(cpu.cpu) + ": " + cpu.governor.value_or("") +
                       (cpu.current_khz ? " " + number_text(static_cast<double>(*cpu.current_khz) / 1000, 0) + " MHz"
                                        : ""));
    }
    for (const auto& [name, text] : environment.vulnerabilities) vulnerabilities.push_back(name + ": " + text);
    add_fact(section, "temperatures", joined(temperatures, "; "));
    add_fact(section, "processors used", joined(cpus, "; "));
    add_fact(section, "vulnerabilities", joined(vulnerabilities, "; "));
}

void machine_facts(Section& section, const Host& host) {
    if (!host.machine) return;
    const Machine& machine = *host.machine;
    add_fact(section, "processor", machine.processor.empty() ? "unknown" : machine.processor);
    add_fact(section, "processor ids", machine.processor_ids);
    add_fact(section, "emulator", machine.emulator);
    add_fact(section, "processors online", std::to_string(machine.online));
    add_fact(section, "kernel", machine.kernel);
    add_fact(section, "memory", number_text(static_cast<double>(machine.memory_bytes) / (1u << 30), 1) + " GiB");
    add_fact(section, "governor", machine.governor);
    std::vector<std::string> load;
    for (const double value : machine.load) load.push_back(value >= 0 ? number_text(value) : "?");
    add_fact(section, "load average", joined(load, " "));
    if (host.environment_recorded) environment_facts(section, machine.environment);
}

// The builds a host ran, in the document's order: looked up, not scanned,
// so that a fleet of many hosts and builds costs no more than its hosts.
Table builds_table(const std::vector<Build>& builds, const std::unordered_map<std::string, std::size_t>& at,
                   const std::set<std::string>& used) {
    Table table{"Builds", {"id", "version", "compiler", "flags", "target", "sha256", "path", "validated"}, {}};
    std::vector<std::size_t> places;
    for (const std::string& id : used) {
        if (const auto it = at.find(id); it != at.end()) places.push_back(it->second);
    }
    std::sort(places.begin(), places.end());
    for (const std::size_t place : places) {
        const Build& build = builds[place];
        const BuildInfo& info = build.info;
        table.rows.push_back({build.id, info.version, info.compiler + " " + info.compiler_version, info.flags,
                              info.target, build.sha256.substr(0, 16), build.path,
                              yes_no(build.validated) + (build.validation.empty() ? "" : ": " + build.validation)});
    }
    return table;
}

Table calls_table(const std::vector<const CallRecord*>& calls) {
    Table table{"Calls", {"call", "started", "ended", "outcome", "stopped because", "reportable", "citation"}, {}};
    for (const CallRecord* call : calls) {
        std::string outcome = call->outcome;
        if (call->no_results_reason) outcome += " (" + *call->no_results_reason + ")";
        std::string reportable = call->reportable ? yes_no(*call->reportable) : "";
        const std::string reasons = joined(call->reportable_reasons);
        if (!reasons.empty()) reportable += (reportable.empty() ? "" : ": ") + reasons;
        table.rows.push_back({call->call_id, call->started_utc, call->ended_utc, outcome, call->stopped_because,
                              reportable, call->citation.value_or("")});
    }
    return table;
}

Table summary_table(const std::vector<const SummaryFigure*>& summary) {
    Table table{"Summary (rate score per round; warm-up rounds left out)",
                {"build", "copies", "rounds", "median", "min", "max", "cv", "scaling", "flagged"},
                {}};
    for (const SummaryFigure* s : summary) {
        table.rows.push_back({s->build, std::to_string(s->copies), std::to_string(s->rounds), number_text(s->median),
                              number_text(s->min), number_text(s->max), percent(s->cv),
                              s->efficiency ? percent(*s->efficiency) : "", std::to_string(s->flagged)});
    }
    return table;
}

Table comparison_table(const std::vector<const ComparisonEntry*>& entries) {
    Table table{"Builds compared (B against A)",
                {"copies", "A", "B", "n", "flagged", "median A", "median B", "ratio of medians", "estimate",
                 "interval", "coverage", "p", "test", "verdict",
                 "slowdown seen " + std::to_string(kPowerPercent) + " %",
                 "differences"},
                {}};
    for (const ComparisonEntry* e : entries) {
        const SampleComparison& c = e->figures;
        std::vector<std::string> differences;
        for (const Difference& d : e->differences) differences.push_back(d.what + ": " + d.a + " / " + d.b);
        table.rows.push_back({std::to_string(e->copies), e->a, e->b,
                              std::to_string(c.n_a) + " / " + std::to_string(c.n_b),
                              std::to_string(e->flagged_a) + " / " + std::to_string(e->flagged_b),
                              number_text(c.median_a), number_text(c.median_b), ratio_text(c.ratio),
                              ratio_text(c.estimate), interval_text(c), coverage_text(c), p_text(c.p_value),
                              test_text(c), verdict_words(c), detectable_percent(c), joined(differences, "; ")});
    }
    return table;
}

// Where a unit's time goes, per build and copy count.
Table module_table(const std::vector<const SummaryFigure*>& summary) {
    Table table{"Milliseconds per work unit by module (median of the profiled rounds)", {"build", "copies"}, {}};
    for (const char* module : kModuleNames) table.head.push_back(module);
    table.head.push_back("sum");
    for (const SummaryFigure* s : summary) {
        if (!s->module_ms) continue;
        std::vector<std::string> row = {s->build, std::to_string(s->copies)};
        double sum = 0;
        for (double ms : *s->module_ms) {
            row.push_back(number_text(ms, 4));
            sum += ms;
        }
        row.push_back(number_text(sum, 4));
        table.rows.push_back(std::move(row));
    }
    return table;
}

Table module_comparison_table(const std::vector<const ComparisonEntry*>& entries) {
    Table table{"Modules compared (B's time over A's: above 1, B takes longer)",
                {"copies", "A", "B", "module", "ms A", "ms B", "estimate", "interval", "coverage", "p", "test",
                 "verdict", "share of difference", "instructions A", "instructions B", "cycles per instruction A",
                 "cycles per instruction B"},
                {}};
    const auto shown = [](const std::optional<double>& value, int decimals) {
        return value ? number_text(*value, decimals) : std::string();
    };
    for (const ComparisonEntry* e : entries) {
        for (const ModuleComparison& m : e->modules) {
            const SampleComparison& c = m.figures;
            table.rows.push_back({std::to_string(e->copies), e->a, e->b, kModuleNames[m.module],
                                  number_text(c.median_a, 4), number_text(c.median_b, 4), ratio_text(c.estimate),
                                  interval_text(c), coverage_text(c), p_text(c.p_value), test_text(c),
                                  module_verdict_words(c),
                                  m.share ? percent(*m.share) : "",
                                  shown(m.instructions_a, 0), shown(m.instructions_b, 0), shown(m.cpi_a, 3),
                                  shown(m.cpi_b, 3)});
        }
    }
    return table;
}

Table flagged_table(const std::vector<const RunRecord*>& runs) {
    Table table{"Flagged runs", {"build", "copies", "round", "copy", "share", "speed changed", "pt said"}, {}};
    for (const RunRecord* run : runs) {
        if (!run->flagged) continue;
        table.rows.push_back({run->build, std::to_string(run->copies), std::to_string(run->round),
                              std::to_string(run->copy), percent(run->share), yes_no(run->speed_changed),
                              joined(run->pt_messages)});
    }
    return table;
}

std::string series_name(const std::string& build, int copies) { return build + ", " + copies_text(copies); }

// Each module's ratio of the comparisons.
void modules_compared_chart(Section& section, const std::vector<const ComparisonEntry*>& entries) {
    std::vector<Row> rows;
    for (const ComparisonEntry* e : entries) {
        for (const ModuleComparison& m : e->modules) {
            rows.push_back({std::string(kModuleNames[m.module]) + ", " + e->b + " / " + e->a + ", " +
                                copies_text(e->copies),
                            0, m.figures.estimate, m.figures.ratio_low, m.figures.ratio_high,
                            m.share ? percent(*m.share) + " of it" : ""});
        }
    }
    if (!rows.empty()) {
        section.charts.emplace_back("Modules compared", svg_rows("B's time over A's, with its interval", rows, 1.0));
    }
}

// Where the unit's time goes per build, and each module's ratio of a
// comparison.
void module_charts(Section& section, const HostPart& part) {
    std::vector<StackedRow> bars;
    for (const SummaryFigure* s : part.summary) {
        if (!s->module_ms) continue;
        bars.push_back({series_name(s->build, s->copies), {s->module_ms->begin(), s->module_ms->end()}});
    }
    if (bars.empty()) return;
    section.charts.emplace_back("Time per work unit by module",
                                svg_stacked("milliseconds per work unit", {kModuleNames.begin(), kModuleNames.end()},
                                            bars));
    modules_compared_chart(section, part.comparisons);
}

// The charts of one host: its runs, and its summary per build.
void host_charts(Section& section, const HostPart& part) {
    std::vector<std::string> run_series;
    std::unordered_map<std::string, int> series_at;
    std::vector<RunPoint> points;
    for (const RunRecord* run : part.runs) {
        if (!run->score) continue;
        const std::string name = series_name(run->build, run->copies);
        const auto [at, added] = series_at.try_emplace(name, static_cast<int>(run_series.size()));
        if (added) run_series.push_back(name);
        points.push_back({at->second, *run->score, run->warmup, run->flagged});
    }
    if (!points.empty()) section.charts.emplace_back("Score per run", svg_runs(run_series, points));

    std::vector<std::string> builds;
    std::vector<SpreadPoint> spread;
    std::set<int> counts;
    for (const SummaryFigure* s : part.summary) {
        auto at = std::find(builds.begin(), builds.end(), s->build);
        if (at == builds.end()) at = builds.insert(builds.end(), s->build);
        spread.push_back({static_cast<int>(at - builds.begin()), s->copies, s->median, s->min, s->max, s->efficiency});
        counts.insert(s->copies);
    }
    if (spread.empty()) return;
    section.charts.emplace_back("Median and spread per copy count", svg_spread(builds, spread));
    if (counts.size() > 1) section.charts.emplace_back("Scaling over copy counts", svg_scaling(builds, spread));
    std::vector<Row> rows;
    for (const ComparisonEntry* e : part.comparisons) {
        const SampleComparison& c = e->figures;
        rows.push_back({e->b + " / " + e->a + ", " + copies_text(e->copies), 0, c.estimate, c.ratio_low,
                        c.ratio_high, verdict_words(c)});
    }
    if (!rows.empty()) {
        section.charts.emplace_back("Builds compared",
                                    svg_rows("estimate of B over A, with its interval", rows, 1.0));
    }
    module_charts(section, part);
}

Section fleet_section(const Document& doc, bool charts) {
    Section section{"Side by side", {}, {}, {}};
    std::set<std::string> hosts, builds;
    std::set<int> counts;
    for (const SummaryFigure& s : doc.summary) {
        hosts.insert(s.host);
        builds.insert(s.build);
        counts.insert(s.copies);
    }
    auto label = [&](const SummaryFigure& s) {
        if (builds.size() == 1) return s.host;
        return hosts.size() == 1 ? s.build : s.host + " / " + s.build;
    };
    Table table{"Median rate score per copy count, with min and max",
                {"host", "build", "copies", "rounds", "median", "min", "max", "scaling", "against the first",
                 "verdict"},
                {}};
    for (int copies : counts) {
        std::vector<Row> rows;
        for (const SummaryFigure& s : doc.summary) {
            if (s.copies != copies) continue;
            std::string against, verdict;
            if (const ComparisonEntry* e = against_first(doc, s.host, s.build, copies); e != nullptr) {
                const SampleComparison& c = e->figures;
                against = ratio_text(c.estimate) + " (" + interval_text(c) + " at " + coverage_text(c) + ")";
                verdict = verdict_words(c);
            }
            table.rows.push_back({s.host, s.build, std::to_string(s.copies), std::to_string(s.rounds),
                                  number_text(s.median), number_text(s.min), number_text(s.max),
                                  s.efficiency ? percent(*s.efficiency) : "", against, verdict});
            rows.push_back({label(s), static_cast<int>(rows.size()), s.median, s.min, s.max, verdict});
        }
        if (charts) {
            section.charts.emplace_back(copies_text(copies),
                                        svg_rows("median rate score (bar: min to max)", rows, std::nullopt));
        }
    }
    section.tables.push_back(table);
    return section;
}

// Each host's place among the hosts of its processor and build line: only
// where there are several hosts to stand among.
Section standing_section(const Document& doc) {
    Section section{"Standing in its kind", {}, {}, {}};
    add_fact(section, "kind", "the same processor and build line, at the same copy count");
    const StandingSettings rule;
    add_fact(section, "slow for its kind",
             "below the kind's median by more of the kind's spreads than the slowest of as many equal hosts lies 5 "
             "times in 100 (" + number_text(slow_bound(20), 1) + " for 20 hosts, " +
                 number_text(slow_bound(500), 1) + " for 500) and " +
                 number_text(rule.min_shortfall * 100, 1) + " %, in a kind of " + std::to_string(rule.min_group) +
                 " hosts or more");
    Table table{"Each host against the hosts of its kind",
                {"host", "build", "copies", "median", "of its kind", "percentile", "against the kind's median", ""},
                {}};
    for (const HostStanding& s : doc.standings) {
        table.rows.push_back({s.host, s.build, std::to_string(s.copies), number_text(s.median),
                              std::to_string(s.group_size), number_text(s.percentile, 0),
                              number_text(s.ratio_to_group_median, 3), s.outlier ? "slow for its kind" : ""});
    }
    section.tables.push_back(std::move(table));
    return section;
}

Section overview_of(const Document& doc) {
    Section overview{"Results", {}, {}, {}};
    add_fact(overview, "calls", std::to_string(doc.calls.size()));
    add_fact(overview, "hosts", std::to_string(doc.hosts.size()));
    add_fact(overview, "runs", std::to_string(doc.runs.size()));
    add_fact(overview, "flagged runs", std::to_string(doc.flagged_runs));
    const CallRecord whole = whole_call(doc);
    add_fact(overview, "from", whole.started_utc + " to " + whole.ended_utc);
    add_fact(overview, "unit", kUnit);
    const std::string reasons = joined(doc.reportable_reasons);
    add_fact(overview, "reportable", yes_no(reasons.empty()) + (reasons.empty() ? "" : ": " + reasons));
    add_fact(overview, "citation", doc.citation.value_or(""));
    return overview;
}

// Who a host is, what it ran on and what it ran; its builds looked up in
// build_at, the document's builds by id.
Section host_section(const Document& doc, const Host& host, const HostPart& part,
                     const std::unordered_map<std::string, std::size_t>& build_at, bool charts) {
    Section section{"Host " + host.id, {}, {}, {}};
    add_fact(section, "hostname", host.hostname);
    add_fact(section, "label", host.label.value_or(""));
    for (const CallRecord* call : part.calls) {
        if (call->outcome == kNoResults) {
            add_fact(section, "results", std::string(kNoResults) + " (" + call->no_results_reason.value_or("") + ")");
        }
    }
    machine_facts(section, host);
    if (charts) host_charts(section, part);
    for (Table table : {builds_table(doc.builds, build_at, part.builds), calls_table(part.calls),
                        summary_table(part.summary), module_table(part.summary), comparison_table(part.comparisons),
                        module_comparison_table(part.comparisons), flagged_table(part.runs)}) {
        if (!table.rows.empty()) section.tables.push_back(std::move(table));
    }
    return section;
}

}  // namespace

std::vector<Section> comparison_sections(const Comparison& comparison, bool charts) {
    Section overview{"Builds compared", {}, {}, {}};
    for (const ComparedBuild& build : comparison.builds) {
        add_fact(overview, build.role, build.file + ": build " + build.id + " on " + build.host + "; " + build.line +
                                           "; sha256 " + build.sha256);
    }
    for (const std::string& note : comparison.notes) add_fact(overview, "note", note);
    if (comparison.one_call) add_fact(overview, "builds of one call", "differences between them are meant");
    if (comparison.exclude_flagged) add_fact(overview, "rounds with a flagged run", "left out (--exclude-flagged)");
    add_fact(overview, "estimate",
             "B against A, by the signed-rank test over the pairs of interleaved rounds, else by the rank-sum test: "
             "the estimate that belongs to the test, with the interval it inverts and the coverage that interval has");
    add_fact(overview, "gate", joined(gate_lines(comparison), "; "));
    std::vector<const ComparisonEntry*> entries;
    for (const ComparisonEntry& entry : comparison.entries) entries.push_back(&entry);
    for (Table table : {comparison_table(entries), module_comparison_table(entries)}) {
        if (!table.rows.empty()) overview.tables.push_back(std::move(table));
    }
    if (charts) {
        std::vector<Row> rows;
        for (const ComparisonEntry* e : entries) {
            const SampleComparison& c = e->figures;
            rows.push_back({e->b + " / " + e->a + ", " + copies_text(e->copies), 0, c.estimate, c.ratio_low,
                            c.ratio_high, verdict_words(c)});
        }
        overview.charts.emplace_back("Builds compared", svg_rows("estimate of B over A, with its interval", rows, 1.0));
        modules_compared_chart(overview, entries);
    }
    return {overview};
}

std::vector<Section> sections_of(const Document& doc, bool charts) {
    std::vector<Section> sections{overview_of(doc)};
    std::set<std::pair<std::string, std::string>> series;
    for (const SummaryFigure& s : doc.summary) series.emplace(s.host, s.build);
    if (series.size() > 1) sections.push_back(fleet_section(doc, charts));
    if (doc.hosts.size() > 1 && !doc.standings.empty()) sections.push_back(standing_section(doc));

    std::unordered_map<std::string, HostPart> parts = parts_of(doc);
    std::unordered_map<std::string, std::size_t> build_at;
    for (std::size_t i = 0; i < doc.builds.size(); ++i) build_at.emplace(doc.builds[i].id, i);
    for (const Host& host : doc.hosts) sections.push_back(host_section(doc, host, parts[host.id], build_at, charts));
    return sections;
}

}  // namespace ptrun
