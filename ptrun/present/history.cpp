#include "present/history.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <map>
#include <optional>

#include <nlohmann/json.hpp>

#include "model/figures.h"
#include "present/page.h"
#include "present/svg.h"
#include "present/text.h"

namespace ptrun {

namespace {

using Json = nlohmann::ordered_json;

std::string fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// "2026-11-03" of "2026-11-03T02:00:00Z", or the whole when it is of another form.
std::string day_of(const std::string& utc) { return utc.size() >= 10 && utc[4] == '-' ? utc.substr(0, 10) : utc; }

std::string counted(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// "-4.8 %": a ratio as the change it is.
std::string ratio_change_text(double ratio) {
    const double pct = (ratio - 1) * 100;
    return (pct >= 0 ? "+" : "") + fixed(pct, 1) + " %";
}

template <typename Count>
std::size_t total(const History& history, Count count) {
    std::size_t n = 0;
    for (const Series& s : history.series) n += count(s);
    return n;
}

std::size_t change_count(const History& h) { return total(h, [](const Series& s) { return s.changes.size(); }); }
std::size_t outlier_count(const History& h) { return total(h, [](const Series& s) { return s.outliers.size(); }); }
std::size_t accepted_count(const History& h) { return total(h, [](const Series& s) { return s.accepted.size(); }); }
std::size_t gate_count(const History& h, Gate result) {
    return total(h, [&](const Series& s) { return s.gate && s.gate->decision.result == result ? 1 : 0; });
}

std::vector<std::string> overview_line(const History& history) {
    std::vector<std::string> line = {
        counted(history.files_read, "results file read", "results files read"),
        counted(history.skipped.size(), "file that is not a results file", "files that are not results files"),
        counted(history.series.size(), "series", "series"),
        counted(change_count(history), "change point", "change points"),
        counted(outlier_count(history), "outlier call", "outlier calls"),
        counted(accepted_count(history), "accepted change", "accepted changes")};
    if (history.duplicates > 0) line.push_back(counted(history.duplicates, "call read twice", "calls read twice"));
    return line;
}

const char* gate_word(Gate result) {
    switch (result) {
        case Gate::fail: return "FAIL";
        case Gate::undecided: return "undecided";
        default: return "pass";
    }
}

// The calls [from, to] the gate took as the series' baseline.
std::pair<std::size_t, std::size_t> baseline_calls(const Series& s) {
    const LevelGate& g = s.gate->decision;
    const std::size_t from = s.accepted.empty() ? 0 : s.levels[g.baseline].first_call;
    return {from, s.levels[g.baseline].end_call - 1};
}

// "a-0 to a-17 (18 calls)"
std::string calls_text(const Series& s, std::size_t first, std::size_t last) {
    return s.calls[first].call_id + " to " + s.calls[last].call_id + " (" + counted(last - first + 1, "call", "calls") +
           ")";
}

std::string accepted_text(const AcceptedChange& a) {
    return "accepted by " + (a.by.empty() ? std::string("nobody named") : a.by) + " at " + a.at_utc + ": " + a.why;
}

// "dates +12.0 % (0.9877 to 1.1234)": each module's time per work unit after over before.
std::string modules_text(const std::vector<ModuleShift>& modules) {
    std::string text;
    for (const ModuleShift& m : modules) {
        text += (text.empty() ? "" : "; ") + std::string(kModuleNames[m.module]) + " " +
                ratio_change_text(m.figures.estimate) + " (" + interval_text(m.figures) + ")";
    }
    return text;
}

}  // namespace

std::string gate_baseline_text(const Series& s) {
    const auto [from, to] = baseline_calls(s);
    return (s.accepted.empty() ? "the first level, calls " : "the level accepted from call " +
                                                                   s.accepted.back().change.first_call + ", calls ") +
           calls_text(s, from, to);
}

std::string gate_text(const Series& s) {
    if (!s.gate) return "";
    const LevelGate& g = s.gate->decision;
    const Level& newest = s.levels[g.newest];
    std::string text = std::string(gate_word(g.result)) + " (fails beyond " + fixed(s.gate->percent, 1) + " % slower" +
                       (s.gate->strict ? ", the whole interval" : "") + "): ";
    if (!g.figures) return text + "the newest level is the baseline, " + gate_baseline_text(s);
    return text + "the newest level, calls " + calls_text(s, newest.first_call, newest.end_call - 1) + ", against " +
           gate_baseline_text(s) + ": " + comparison_line(*g.figures) + "; " + differences_text(s.gate->differences);
}

std::string levels_text(const Series& s) {
    std::string text;
    for (const Level& l : s.levels) text += (text.empty() ? "" : " -> ") + fixed(l.median, 2);
    return text;
}

// Every text from the files shown visibly: a terminal takes no escape sequence from them.
std::string history_terminal(const History& history) {
    std::string out = "ptrun history: " + joined(overview_line(history)) + "\n";
    for (const Series& s : history.series) {
        const SeriesCall& newest = s.calls.back();
        out += "\n" + visible(series_text(s)) + ": " + counted(s.calls.size(), "call", "calls") + ", " +
               day_of(s.calls.front().started_utc) + " to " + day_of(newest.started_utc) + ", newest median " +
               fixed(newest.median, 2) + (s.changes.empty() ? ", no change point" : "") + "\n";
        for (const Level& l : s.levels) {
            out += "  level " + visible(calls_text(s, l.first_call, l.end_call - 1)) + ": median " +
                   fixed(l.median, 2) + "\n";
        }
        for (const SeriesChange& c : s.changes) {
            const SeriesCall& first = s.calls[c.first_call];
            const SampleComparison& f = c.point.comparison;
            out += "  change " + change_size_text(f) + " from call " + visible(first.call_id) + " (" +
                   visible(first.started_utc) + "): " + comparison_line(f) + ", search p " +
                   fixed(c.point.split_p, 3) + ": " + visible(differences_text(c.differences)) + "\n";
            if (!c.modules.empty()) out += "    modules moved: " + modules_text(c.modules) + "\n";
        }
        for (const SeriesOutlier& o : s.outliers) {
            const SeriesCall& call = s.calls[o.call];
            out += "  outlier call " + visible(call.call_id) + " (" + visible(call.started_utc) + "): " +
                   ratio_change_text(o.ratio) + " against its level: " + visible(differences_text(o.differences)) +
                   "\n";
        }
        for (const SeriesAcceptance& a : s.accepted) {
            out += "  change from call " + visible(a.change.first_call) + " " + visible(accepted_text(a.change)) + "\n";
        }
        if (s.gate) out += "  gate " + visible(gate_text(s)) + "\n";
    }
    return out;
}

namespace {

Table changes_table(const Series& s) {
    Table table{"Change points",
                {"first call after", "started", "change", "estimate", "interval", "coverage", "p", "search p",
                 "what differs", "modules moved", "accepted"},
                {}};
    for (const SeriesChange& c : s.changes) {
        const SeriesCall& first = s.calls[c.first_call];
        const SampleComparison& f = c.point.comparison;
        table.rows.push_back({first.call_id, first.started_utc, change_size_text(f), ratio_text(f.estimate),
                              interval_text(f), coverage_text(f), p_text(f.p_value), fixed(c.point.split_p, 3),
                              differences_text(c.differences),
                              c.modules.empty() ? "none shown" : modules_text(c.modules),
                              c.accepted ? accepted_text(*c.accepted) : "no"});
    }
    return table;
}

// The series' levels, outlier calls and acceptances, those it has.
std::vector<Table> series_tables(const Series& s) {
    std::vector<Table> tables;
    Table levels{"Levels", {"first call", "started", "last call", "calls", "median"}, {}};
    for (const Level& l : s.levels) {
        levels.rows.push_back({s.calls[l.first_call].call_id, s.calls[l.first_call].started_utc,
                               s.calls[l.end_call - 1].call_id, std::to_string(l.end_call - l.first_call),
                               fixed(l.median, 2)});
    }
    tables.push_back(std::move(levels));
    if (!s.changes.empty()) tables.push_back(changes_table(s));
    Table outliers{"Outlier calls", {"call", "started", "against its level", "what differs"}, {}};
    for (const SeriesOutlier& o : s.outliers) {
        outliers.rows.push_back({s.calls[o.call].call_id, s.calls[o.call].started_utc, ratio_change_text(o.ratio),
                                 differences_text(o.differences)});
    }
    if (!outliers.rows.empty()) tables.push_back(std::move(outliers));
    Table accepted{"Accepted changes", {"first call after", "accepted by", "accepted at", "why", "at change"}, {}};
    for (const SeriesAcceptance& a : s.accepted) {
        accepted.rows.push_back({a.change.first_call, a.change.by, a.change.at_utc, a.change.why,
                                 a.at_change ? change_size_text(s.changes[*a.at_change].point.comparison) +
                                                   " from call " + s.calls[s.changes[*a.at_change].first_call].call_id
                                             : "none found before it"});
    }
    if (!accepted.rows.empty()) tables.push_back(std::move(accepted));
    return tables;
}

// Under each call of a chart its day, and its time where a day has several.
std::vector<std::string> call_labels(const Series& s) {
    std::vector<std::string> labels;
    for (const SeriesCall& call : s.calls) labels.push_back(day_of(call.started_utc));
    if (std::adjacent_find(labels.begin(), labels.end()) == labels.end()) return labels;
    for (std::size_t i = 0; i < labels.size(); ++i) {
        const std::string& utc = s.calls[i].started_utc;
        if (utc.size() >= 16 && utc[10] == 'T') labels[i] += " " + utc.substr(11, 5);
    }
    return labels;
}

std::string series_chart(const Series& s) {
    std::vector<std::vector<double>> rounds;
    for (const SeriesCall& call : s.calls) rounds.push_back(call.rounds);
    std::vector<CallMark> marks;
    for (const SeriesChange& c : s.changes) {
        marks.push_back({c.first_call, change_size_text(c.point.comparison), MarkKind::change});
    }
    for (const SeriesOutlier& o : s.outliers) marks.push_back({o.call, ratio_change_text(o.ratio), MarkKind::outlier});
    for (const SeriesAcceptance& a : s.accepted) marks.push_back({a.call, "accepted", MarkKind::accepted});
    return svg_calls(rounds, marks, call_labels(s));
}

// Days since 1970-01-01 of "2026-11-03T02:00:00Z", nothing for another form.
std::optional<double> day_number(const std::string& utc) {
    int y = 0, m = 0, d = 0, hh = 0, mm = 0, ss = 0;
    if (std::sscanf(utc.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d", &y, &m, &d, &hh, &mm, &ss) < 3 || m < 1 || m > 12 ||
        d < 1 || d > 31) {
        return std::nullopt;
    }
    // Days from civil (proleptic Gregorian), after H. Hinnant's algorithm.
    const long yy = y - (m <= 2 ? 1 : 0), era = (yy >= 0 ? yy : yy - 399) / 400, yoe = yy - era * 400;
    const long doy = (153L * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1, doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return static_cast<double>(era * 146097 + doe - 719468) + (hh * 3600.0 + mm * 60.0 + ss) / 86400;
}

// What hosts are alike in: the processor, the build's line and the copy count.
std::string kind_text(const Series& s) {
    const SeriesCall& newest = s.calls.back();
    const std::string processor = newest.host->machine ? newest.host->machine->processor : "";
    return (processor.empty() ? "processor not told" : processor) + ", " + newest.build->line + ", " +
           copies_text(s.copies);
}

// Of a kind of two series or more, all of them on one scale over time.
std::optional<Section> kind_section(const History& history, const std::vector<std::size_t>& members,
                                    const std::string& kind) {
    if (members.size() < 2) return std::nullopt;
    std::vector<std::string> names;
    std::vector<TimePoint> points;
    for (const std::size_t i : members) {
        const Series& s = history.series[i];
        for (const SeriesCall& call : s.calls) {
            const auto day = day_number(call.started_utc);
            if (day) points.push_back({static_cast<int>(names.size()), *day, call.median});
        }
        names.push_back(series_text(s));
    }
    Section section{"Hosts of a kind: " + kind, {}, {}, {}};
    section.charts.emplace_back("median rate score per call, all hosts of the kind", svg_timeline(names, points));
    return section;
}

Section overview_section(const History& history) {
    Section overview{"Overview", {}, {}, {}};
    const std::array<const char*, 6> names = {"files read",    "not results files", "series",
                                              "change points", "outlier calls",     "accepted changes"};
    const std::array<std::size_t, 6> values = {history.files_read,      history.skipped.size(),
                                               history.series.size(),   change_count(history),
                                               outlier_count(history), accepted_count(history)};
    for (std::size_t i = 0; i < names.size(); ++i) overview.facts.emplace_back(names[i], std::to_string(values[i]));
    if (history.duplicates > 0) overview.facts.emplace_back("calls read twice", std::to_string(history.duplicates));
    const bool gated =
        std::any_of(history.series.begin(), history.series.end(), [](const Series& s) { return s.gate.has_value(); });
    if (gated) {
        overview.facts.emplace_back("gate", std::to_string(gate_count(history, Gate::fail)) + " failed, " +
                                                std::to_string(gate_count(history, Gate::undecided)) + " undecided");
    }
    if (!history.skipped.empty()) {
        Table skipped{"Not results files", {"file", "why"}, {}};
        for (const auto& [file, why] : history.skipped) skipped.rows.push_back({file, why});
        overview.tables.push_back(std::move(skipped));
    }
    Table all{"Series",
              {"host", "build", "copies", "calls", "first", "newest", "newest median", "levels", "newest change",
               "gate"},
              {}};
    for (const Series& s : history.series) {
        const std::string newest_change =
            s.changes.empty() ? "none"
                              : change_size_text(s.changes.back().point.comparison) + " from " +
                                    day_of(s.calls[s.changes.back().first_call].started_utc);
        all.rows.push_back({s.host, s.build + (s.build_id == "A" ? "" : " (" + s.build_id + ")"),
                            std::to_string(s.copies), std::to_string(s.calls.size()), s.calls.front().started_utc,
                            s.calls.back().started_utc, fixed(s.calls.back().median, 2), levels_text(s),
                            newest_change, s.gate ? gate_word(s.gate->decision.result) : "not asked"});
    }
    if (!all.rows.empty()) overview.tables.push_back(std::move(all));
    return overview;
}

// The overview, the series side by side, and a section per series: every
// series where charts are drawn, else those with more than one level, an
// outlier call, an acceptance or a gate. Where charts are drawn, the series
// go by kind, each kind of two series or more led by its chart.
std::vector<Section> history_sections(const History& history, bool charts) {
    std::vector<Section> sections = {overview_section(history)};
    const auto add_series = [&](const Series& s) {
        if (!charts && s.levels.size() < 2 && s.outliers.empty() && s.accepted.empty() && !s.gate) return;
        Section section{series_text(s), {}, {}, series_tables(s)};
        if (s.gate) section.facts.emplace_back("gate", gate_text(s));
        if (charts) section.charts.emplace_back("rate score per call", series_chart(s));
        sections.push_back(std::move(section));
    };
    if (!charts) {
        for (const Series& s : history.series) add_series(s);
        return sections;
    }
    std::map<std::string, std::vector<std::size_t>> kinds;
    for (std::size_t i = 0; i < history.series.size(); ++i) kinds[kind_text(history.series[i])].push_back(i);
    for (const auto& [kind, members] : kinds) {
        if (auto section = kind_section(history, members, kind)) sections.push_back(std::move(*section));
        for (const std::size_t i : members) add_series(history.series[i]);
    }
    return sections;
}

}  // namespace

std::string history_markdown(const History& history) {
    return markdown_page("ptrun history", history_sections(history, false));
}

std::string history_html(const History& history) {
    return html_page("ptrun history", history_sections(history, true));
}

namespace {

std::string csv_number(double value) { return fixed(value, 6); }

constexpr const char* kCsvHead =
    "host,build,build_id,copies,call_id,started_utc,file,rounds,median,level,level_median,outlier_ratio,"
    "outlier_differences,change_estimate,change_ratio_low,change_ratio_high,change_p_value,change_search_p,"
    "change_differences,change_modules,accepted_by,accepted_at_utc,accepted_why,gate_result,gate_percent,"
    "gate_baseline_first_call,gate_baseline_last_call,gate_estimate,gate_ratio_low,gate_ratio_high,"
    "gate_differences\r\n";

// The cells after the call's own of what starts, stands out or is accepted at call i.
void call_cells(const Series& s, std::size_t i, std::vector<std::string>& cells) {
    std::size_t level = 0;
    while (s.levels[level].end_call <= i) ++level;
    cells.push_back(std::to_string(level + 1));
    cells.push_back(csv_number(s.levels[level].median));
    const auto outlier = std::find_if(s.outliers.begin(), s.outliers.end(), [&](const auto& o) { return o.call == i; });
    cells.push_back(outlier == s.outliers.end() ? "" : csv_number(outlier->ratio));
    cells.push_back(outlier == s.outliers.end() ? "" : csv_field(differences_text(outlier->differences)));
    const auto change =
        std::find_if(s.changes.begin(), s.changes.end(), [&](const auto& c) { return c.first_call == i; });
    if (change == s.changes.end()) {
        cells.insert(cells.end(), 7, "");
    } else {
        const SampleComparison& f = change->point.comparison;
        for (double v : {f.estimate, f.ratio_low, f.ratio_high, f.p_value, change->point.split_p}) {
            cells.push_back(csv_number(v));
        }
        cells.push_back(csv_field(differences_text(change->differences)));
        cells.push_back(csv_field(modules_text(change->modules)));
    }
    const auto accepted =
        std::find_if(s.accepted.begin(), s.accepted.end(), [&](const auto& a) { return a.call == i; });
    if (accepted == s.accepted.end()) {
        cells.insert(cells.end(), 3, "");
        return;
    }
    for (const std::string& text : {accepted->change.by, accepted->change.at_utc, accepted->change.why}) {
        cells.push_back(csv_field(text));
    }
}

// The gate's cells, on the series' newest call.
void gate_cells(const Series& s, std::size_t i, std::vector<std::string>& cells) {
    if (!s.gate || i + 1 != s.calls.size()) {
        cells.insert(cells.end(), 8, "");
        return;
    }
    const LevelGate& g = s.gate->decision;
    const auto [from, to] = baseline_calls(s);
    cells.push_back(gate_word(g.result));
    cells.push_back(csv_number(s.gate->percent));
    cells.push_back(csv_field(s.calls[from].call_id));
    cells.push_back(csv_field(s.calls[to].call_id));
    for (double v : {g.figures ? g.figures->estimate : 1, g.figures ? g.figures->ratio_low : 1,
                     g.figures ? g.figures->ratio_high : 1}) {
        cells.push_back(g.figures ? csv_number(v) : "");
    }
    cells.push_back(csv_field(differences_text(s.gate->differences)));
}

}  // namespace

// One row per call; a change's figures on the first call after it, an
// acceptance on the call it names, the gate on the series' newest call.
std::string history_csv(const History& history) {
    std::string out = kCsvHead;
    for (const Series& s : history.series) {
        for (std::size_t i = 0; i < s.calls.size(); ++i) {
            const SeriesCall& call = s.calls[i];
            std::vector<std::string> cells = {csv_field(s.host),         csv_field(s.build),
                                              csv_field(s.build_id),     std::to_string(s.copies),
                                              csv_field(call.call_id),   csv_field(call.started_utc),
                                              csv_field(call.file),      std::to_string(call.rounds.size()),
                                              csv_number(call.median)};
            call_cells(s, i, cells);
            gate_cells(s, i, cells);
            out += joined(cells, ",") + "\r\n";
        }
    }
    return out;
}

namespace {

Json differences_json(const std::vector<Difference>& differences) {
    Json list = Json::array();
    for (const Difference& d : differences) list.push_back({{"what", d.what}, {"before", d.a}, {"after", d.b}});
    return list;
}

Json figures_json(const SampleComparison& f) {
    return {{"estimate", f.estimate}, {"ratio_low", f.ratio_low},   {"ratio_high", f.ratio_high},
            {"confidence", f.confidence}, {"p_value", f.p_value}};
}

Json accepted_json(const AcceptedChange& a) {
    return {{"first_call", a.first_call}, {"accepted_by", a.by}, {"accepted_at_utc", a.at_utc}, {"why", a.why}};
}

Json changes_json(const Series& s) {
    Json changes = Json::array();
    for (const SeriesChange& c : s.changes) {
        Json change = {{"call_id", s.calls[c.first_call].call_id}, {"started_utc", s.calls[c.first_call].started_utc}};
        change.update(figures_json(c.point.comparison));
        change.update({{"search_p_value", c.point.split_p},
                       {"rounds_before", c.point.comparison.n_a},
                       {"rounds_after", c.point.comparison.n_b},
                       {"differences", differences_json(c.differences)}});
        Json modules = Json::array();
        for (const ModuleShift& m : c.modules) {
            Json module = {{"module", kModuleNames[m.module]}};
            module.update(figures_json(m.figures));
            modules.push_back(std::move(module));
        }
        change["modules_moved"] = std::move(modules);
        change["accepted"] = c.accepted ? accepted_json(*c.accepted) : Json();
        changes.push_back(std::move(change));
    }
    return changes;
}

Json gate_json(const Series& s) {
    if (!s.gate) return Json();
    const LevelGate& g = s.gate->decision;
    const auto [from, to] = baseline_calls(s);
    const Level& newest = s.levels[g.newest];
    return {{"result", gate_word(g.result)},
            {"fail_above_percent", s.gate->percent},
            {"strict", s.gate->strict},
            {"baseline", {{"first_call", s.calls[from].call_id}, {"last_call", s.calls[to].call_id}}},
            {"newest_level",
             {{"first_call", s.calls[newest.first_call].call_id}, {"last_call", s.calls[newest.end_call - 1].call_id}}},
            {"figures", g.figures ? figures_json(*g.figures) : Json()},
            {"differences", differences_json(s.gate->differences)}};
}

Json series_json(const Series& s) {
    Json calls = Json::array();
    for (const SeriesCall& call : s.calls) {
        calls.push_back({{"call_id", call.call_id}, {"started_utc", call.started_utc}, {"file", call.file},
                         {"rounds", call.rounds}, {"median", call.median}});
    }
    Json levels = Json::array();
    for (const Level& l : s.levels) {
        levels.push_back({{"first_call", s.calls[l.first_call].call_id},
                          {"last_call", s.calls[l.end_call - 1].call_id},
                          {"calls", l.end_call - l.first_call},
                          {"median", l.median}});
    }
    Json outliers = Json::array();
    for (const SeriesOutlier& o : s.outliers) {
        outliers.push_back({{"call_id", s.calls[o.call].call_id}, {"started_utc", s.calls[o.call].started_utc},
                            {"ratio_to_level", o.ratio}, {"differences", differences_json(o.differences)}});
    }
    Json accepted = Json::array();
    for (const SeriesAcceptance& a : s.accepted) accepted.push_back(accepted_json(a.change));
    return {{"host", s.host},         {"build", s.build},
            {"build_id", s.build_id}, {"copies", s.copies},
            {"calls", std::move(calls)}, {"levels", std::move(levels)},
            {"change_points", changes_json(s)}, {"outlier_calls", std::move(outliers)},
            {"accepted_changes", std::move(accepted)}, {"gate", gate_json(s)}};
}

}  // namespace

std::string history_json(const History& history) {
    Json skipped = Json::array();
    for (const auto& [file, why] : history.skipped) skipped.push_back({{"file", file}, {"why", why}});
    Json series = Json::array();
    for (const Series& s : history.series) series.push_back(series_json(s));
    const Json out = {{"files_read", history.files_read}, {"not_results_files", std::move(skipped)},
                      {"calls_read_twice", history.duplicates}, {"series", std::move(series)}};
    return out.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::string series_text(const Series& s) { return series_name(s); }

std::string change_size_text(const SampleComparison& figures) { return ratio_change_text(figures.estimate); }

std::string differences_text(const std::vector<Difference>& differences) {
    if (differences.empty()) return "nothing recorded differs";
    std::string text;
    for (const Difference& d : differences) text += (text.empty() ? "" : "; ") + d.what + " " + d.a + " -> " + d.b;
    return text;
}

}  // namespace ptrun
