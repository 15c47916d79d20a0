#include "present/history.h"

#include <algorithm>
#include <array>
#include <cstdio>

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

std::size_t change_count(const History& history) {
    std::size_t count = 0;
    for (const Series& s : history.series) count += s.changes.size();
    return count;
}

std::string counted(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::vector<std::string> overview_line(const History& history) {
    return {counted(history.files_read, "results file read", "results files read"),
            counted(history.skipped.size(), "file that is not a results file", "files that are not results files"),
            counted(history.series.size(), "series", "series"),
            counted(change_count(history), "change point", "change points")};
}

}  // namespace

// Every text from the files shown visibly: a terminal takes no escape sequence from them.
std::string history_terminal(const History& history) {
    std::string out = "ptrun history: " + joined(overview_line(history)) + "\n";
    for (const Series& s : history.series) {
        const SeriesCall& newest = s.calls.back();
        out += "\n" + visible(series_text(s)) + ": " + counted(s.calls.size(), "call", "calls") + ", " +
               day_of(s.calls.front().started_utc) + " to " + day_of(newest.started_utc) + ", newest median " +
               fixed(newest.median, 2) + (s.changes.empty() ? ", no change point" : "") + "\n";
        for (const SeriesChange& c : s.changes) {
            const SeriesCall& first = s.calls[c.first_call];
            const SampleComparison& f = c.point.comparison;
            out += "  " + change_size_text(f) + " from call " + visible(first.call_id) + " (" +
                   visible(first.started_utc) + "): " + comparison_line(f) + ", search p " +
                   fixed(c.point.split_p, 3) + ": " + visible(differences_text(c.differences)) + "\n";
        }
    }
    return out;
}

namespace {

Table changes_table(const Series& s) {
    Table table{"Change points",
                {"first call after", "started", "change", "estimate", "interval", "coverage", "p", "search p",
                 "what differs"},
                {}};
    for (const SeriesChange& c : s.changes) {
        const SeriesCall& first = s.calls[c.first_call];
        const SampleComparison& f = c.point.comparison;
        table.rows.push_back({first.call_id, first.started_utc, change_size_text(f), ratio_text(f.estimate),
                              interval_text(f), coverage_text(f), p_text(f.p_value), fixed(c.point.split_p, 3),
                              differences_text(c.differences)});
    }
    return table;
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

// The overview, the series side by side, and a section per series: every
// series where charts are drawn, else those with a change point.
std::vector<Section> history_sections(const History& history, bool charts) {
    Section overview{"Overview", {}, {}, {}};
    const std::array<const char*, 4> names = {"files read", "not results files", "series", "change points"};
    const std::vector<std::string> values = {std::to_string(history.files_read), std::to_string(history.skipped.size()),
                                             std::to_string(history.series.size()),
                                             std::to_string(change_count(history))};
    for (std::size_t i = 0; i < names.size(); ++i) overview.facts.emplace_back(names[i], values[i]);
    if (history.duplicates > 0) overview.facts.emplace_back("calls read twice", std::to_string(history.duplicates));
    if (!history.skipped.empty()) {
        Table skipped{"Not results files", {"file", "why"}, {}};
        for (const auto& [file, why] : history.skipped) skipped.rows.push_back({file, why});
        overview.tables.push_back(std::move(skipped));
    }
    Table all{"Series", {"host", "build", "copies", "calls", "first", "newest", "newest median", "newest change"}, {}};
    for (const Series& s : history.series) {
        const std::string newest_change =
            s.changes.empty() ? "none"
                              : change_size_text(s.changes.back().point.comparison) + " from " +
                                    day_of(s.calls[s.changes.back().first_call].started_utc);
        all.rows.push_back({s.host, s.build, std::to_string(s.copies), std::to_string(s.calls.size()),
                            s.calls.front().started_utc, s.calls.back().started_utc, fixed(s.calls.back().median, 2),
                            newest_change});
    }
    if (!all.rows.empty()) overview.tables.push_back(std::move(all));
    std::vector<Section> sections = {std::move(overview)};
    for (const Series& s : history.series) {
        if (!charts && s.changes.empty()) continue;
        Section section{series_text(s), {}, {}, {}};
        if (charts) {
            std::vector<std::vector<double>> rounds;
            for (const SeriesCall& call : s.calls) rounds.push_back(call.rounds);
            std::vector<CallMark> marks;
            for (const SeriesChange& c : s.changes) {
                marks.push_back({c.first_call, change_size_text(c.point.comparison)});
            }
            const std::string chart = svg_calls(rounds, marks, call_labels(s));
            section.charts.emplace_back("rate score per call", chart);
        }
        if (!s.changes.empty()) section.tables.push_back(changes_table(s));
        sections.push_back(std::move(section));
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

}  // namespace

// One row per call; a change's figures on the first call after it.
std::string history_csv(const History& history) {
    std::string out = "host,build,copies,call_id,started_utc,file,rounds,median,change_estimate,change_ratio_low,"
                      "change_ratio_high,change_p_value,change_search_p,change_differences\r\n";
    for (const Series& s : history.series) {
        std::size_t next = 0;
        for (std::size_t i = 0; i < s.calls.size(); ++i) {
            const SeriesCall& call = s.calls[i];
            std::vector<std::string> cells = {csv_field(s.host), csv_field(s.build), std::to_string(s.copies),
                                              csv_field(call.call_id), csv_field(call.started_utc),
                                              csv_field(call.file), std::to_string(call.rounds.size()),
                                              csv_number(call.median), "", "", "", "", "", ""};
            if (next < s.changes.size() && s.changes[next].first_call == i) {
                const SeriesChange& c = s.changes[next++];
                const SampleComparison& f = c.point.comparison;
                cells.resize(8);
                for (double v : {f.estimate, f.ratio_low, f.ratio_high, f.p_value, c.point.split_p}) {
                    cells.push_back(csv_number(v));
                }
                cells.push_back(csv_field(differences_text(c.differences)));
            }
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

}  // namespace

std::string history_json(const History& history) {
    Json skipped = Json::array();
    for (const auto& [file, why] : history.skipped) skipped.push_back({{"file", file}, {"why", why}});
    Json series = Json::array();
    for (const Series& s : history.series) {
        Json calls = Json::array();
        for (const SeriesCall& call : s.calls) {
            calls.push_back({{"call_id", call.call_id}, {"started_utc", call.started_utc}, {"file", call.file},
                             {"rounds", call.rounds}, {"median", call.median}});
        }
        Json changes = Json::array();
        for (const SeriesChange& c : s.changes) {
            const SampleComparison& f = c.point.comparison;
            changes.push_back({{"call_id", s.calls[c.first_call].call_id},
                               {"started_utc", s.calls[c.first_call].started_utc},
                               {"estimate", f.estimate},
                               {"ratio_low", f.ratio_low},
                               {"ratio_high", f.ratio_high},
                               {"confidence", f.confidence},
                               {"p_value", f.p_value},
                               {"search_p_value", c.point.split_p},
                               {"rounds_before", f.n_a},
                               {"rounds_after", f.n_b},
                               {"differences", differences_json(c.differences)}});
        }
        series.push_back({{"host", s.host}, {"build", s.build}, {"copies", s.copies}, {"calls", std::move(calls)},
                          {"change_points", std::move(changes)}});
    }
    const Json out = {{"files_read", history.files_read}, {"not_results_files", std::move(skipped)},
                      {"calls_read_twice", history.duplicates}, {"series", std::move(series)}};
    return out.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::string series_text(const Series& s) { return s.host + ", " + s.build + ", " + copies_text(s.copies); }

std::string change_size_text(const SampleComparison& figures) {
    const double pct = (figures.estimate - 1) * 100;
    return (pct >= 0 ? "+" : "") + fixed(pct, 1) + " %";
}

std::string differences_text(const std::vector<Difference>& differences) {
    if (differences.empty()) return "nothing recorded differs";
    std::string text;
    for (const Difference& d : differences) text += (text.empty() ? "" : "; ") + d.what + " " + d.a + " -> " + d.b;
    return text;
}

}  // namespace ptrun
