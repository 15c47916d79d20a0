#include "report.h"

#include <cstdio>
#include <map>
#include <set>

#include "merge.h"
#include "output.h"
#include "stats.h"
#include "svg.h"

namespace ptrun {

namespace {

// A table as both formats draw it.
struct Table {
    std::string caption;
    std::vector<std::string> head;
    std::vector<std::vector<std::string>> rows;
};

struct Section {
    std::string title;
    std::vector<std::pair<std::string, std::string>> facts;
    std::vector<std::pair<std::string, std::string>> charts;  // title and SVG, for the page only
    std::vector<Table> tables;
};

// Any value as a reader would say it; numbers as JSON writes them (C locale).
std::string shown(const Json& value) {
    if (value.is_string()) return value.get<std::string>();
    if (value.is_null()) return "";
    if (value.is_boolean()) return value.get<bool>() ? "yes" : "no";
    if (value.is_array()) {
        std::string out;
        for (const Json& item : value) out += (out.empty() ? "" : ", ") + shown(item);
        return out;
    }
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string field(const Json& object, const char* key) {
    return object.is_object() && object.contains(key) ? shown(object[key]) : "";
}

double number_of(const Json& object, const char* key) {
    return object.is_object() && object.contains(key) && object[key].is_number() ? object[key].get<double>() : 0;
}

std::string percent(const Json& value) {
    return value.is_number() ? number_text(value.get<double>() * 100, 1) + " %" : "";
}

// "name: value; ..." for an object of texts or numbers.
std::string listing(const Json& object, const std::string& unit = "") {
    std::string out;
    if (!object.is_object()) return shown(object);
    for (const auto& [name, value] : object.items()) {
        out += (out.empty() ? "" : "; ") + name + ": " +
               (value.is_number() ? number_text(value.get<double>(), 1) : shown(value)) + unit;
    }
    return out;
}

void add_fact(Section& section, const std::string& name, const std::string& value) {
    if (!value.empty()) section.facts.emplace_back(name, value);
}

void machine_facts(Section& section, const Json& machine) {
    add_fact(section, "processor", field(machine, "processor"));
    add_fact(section, "processors online", field(machine, "processors_online"));
    add_fact(section, "kernel", field(machine, "kernel"));
    if (machine.is_object() && machine.contains("memory_bytes") && machine["memory_bytes"].is_number()) {
        add_fact(section, "memory", number_text(machine["memory_bytes"].get<double>() / (1u << 30), 1) + " GiB");
    }
    add_fact(section, "governor", field(machine, "governor"));
    if (machine.is_object() && machine.contains("load_average") && machine["load_average"].is_array()) {
        std::string load;
        for (const Json& value : machine["load_average"]) {
            load += (load.empty() ? "" : " ") + (value.is_number() ? number_text(value.get<double>()) : "?");
        }
        add_fact(section, "load average", load);
    }
    const Json environment = machine.is_object() ? machine.value("environment", Json()) : Json();
    if (!environment.is_object()) return;
    for (const char* key : {"smt", "microcode", "boost", "hypervisor"}) add_fact(section, key, field(environment, key));
    add_fact(section, "temperatures", listing(environment.value("temperatures_c", Json()), " \u00b0C"));
    if (environment.contains("cpus") && environment["cpus"].is_array()) {
        std::string cpus;
        for (const Json& cpu : environment["cpus"]) {
            const Json frequency = cpu.is_object() ? cpu.value("frequency_khz", Json()) : Json();
            cpus += (cpus.empty() ? "" : "; ") + field(cpu, "cpu") + ": " + field(cpu, "governor");
            if (frequency.is_object() && frequency.contains("current") && frequency["current"].is_number()) {
                cpus += " " + number_text(frequency["current"].get<double>() / 1000, 0) + " MHz";
            }
        }
        add_fact(section, "processors used", cpus);
    }
    add_fact(section, "vulnerabilities", listing(environment.value("vulnerabilities", Json())));
}

Table builds_table(const Json& builds, const std::set<std::string>& used) {
    Table table{"Builds", {"id", "version", "compiler", "flags", "target", "sha256", "path", "validated"}, {}};
    for (const Json& build : builds) {
        if (!used.count(field(build, "id"))) continue;
        const Json info = build.is_object() ? build.value("build_info", Json()) : Json();
        std::string validated = field(build, "validated");
        const std::string why = field(build, "validation");
        if (!why.empty()) validated += (validated.empty() ? "" : ": ") + why;
        table.rows.push_back({field(build, "id"), field(info, "version"),
                              field(info, "compiler") + " " + field(info, "compiler_version"), field(info, "flags"),
                              field(info, "target"), field(build, "sha256").substr(0, 16), field(build, "path"),
                              validated});
    }
    return table;
}

Table calls_table(const Json& calls, const std::string& host) {
    Table table{"Calls", {"call", "started", "ended", "outcome", "stopped because", "reportable", "citation"}, {}};
    for (const Json& call : calls) {
        if (field(call, "host") != host) continue;
        std::string reportable = field(call, "reportable");
        const std::string reasons = field(call, "reportable_reasons");
        if (!reasons.empty()) reportable += (reportable.empty() ? "" : ": ") + reasons;
        table.rows.push_back({field(call, "call_id"), field(call, "started_utc"), field(call, "ended_utc"),
                              field(call, "outcome"), field(call, "stopped_because"), reportable,
                              field(call, "citation")});
    }
    return table;
}

Table summary_table(const Json& summary, const std::string& host) {
    Table table{"Summary (rate score per round; warm-up rounds left out)",
                {"build", "copies", "rounds", "median", "min", "max", "cv", "scaling", "flagged"},
                {}};
    for (const Json& s : summary) {
        if (field(s, "host") != host) continue;
        table.rows.push_back({field(s, "build"), field(s, "copies"), field(s, "runs"),
                              number_text(number_of(s, "median")), number_text(number_of(s, "min")),
                              number_text(number_of(s, "max")), percent(s["cv"]), percent(s["scaling_efficiency"]),
                              field(s, "flagged_runs")});
    }
    return table;
}

std::vector<Json> comparisons_of(const Json& doc, const std::string& host) {
    std::vector<Json> entries;
    if (!doc.contains("comparison") || !doc["comparison"].is_array()) return entries;
    for (const Json& entry : doc["comparison"]) {
        if (entry.is_object() && field(entry, "host") == host) entries.push_back(entry);
    }
    return entries;
}

Table comparison_table(const std::vector<Json>& entries) {
    Table table{"Builds compared (B against A)",
                {"copies", "A", "B", "n", "median A", "median B", "ratio", "interval", "p", "verdict"},
                {}};
    for (const Json& e : entries) {
        std::string interval =
            number_text(number_of(e, "ratio_low"), 3) + " to " + number_text(number_of(e, "ratio_high"), 3);
        if (e.contains("confidence") && e["confidence"].is_number()) interval += " (" + percent(e["confidence"]) + ")";
        std::string differences;
        if (e.contains("differences") && e["differences"].is_array()) {
            for (const Json& d : e["differences"]) {
                differences += "; " + field(d, "what") + ": " + field(d, "a") + " / " + field(d, "b");
            }
        }
        table.rows.push_back({field(e, "copies"), field(e, "a"), field(e, "b"),
                              field(e, "n_a") + " / " + field(e, "n_b"), number_text(number_of(e, "median_a")),
                              number_text(number_of(e, "median_b")), number_text(number_of(e, "ratio"), 3), interval,
                              number_text(number_of(e, "p_value"), 4), field(e, "verdict") + differences});
    }
    return table;
}

Table flagged_table(const Json& runs, const std::string& host) {
    Table table{"Flagged runs", {"build", "copies", "round", "copy", "share", "speed changed", "pt said"}, {}};
    for (const Json& run : runs) {
        if (field(run, "host") != host || run.value("flagged", false) != true) continue;
        table.rows.push_back({field(run, "build"), field(run, "copies"), field(run, "round"), field(run, "copy"),
                              percent(run.value("share", Json())), field(run, "speed_changed"),
                              field(run, "pt_messages")});
    }
    return table;
}

std::string series_name(const std::string& build, int copies) {
    return build + ", " + std::to_string(copies) + (copies == 1 ? " copy" : " copies");
}

// The charts of one host: its runs, and its summary per build.
void host_charts(Section& section, const Json& doc, const std::string& host) {
    std::vector<std::string> run_series;
    std::vector<RunPoint> points;
    for (const Json& run : doc["runs"]) {
        if (field(run, "host") != host || !run.contains("score") || !run["score"].is_number()) continue;
        const std::string name = series_name(field(run, "build"), run.value("copies", 0));
        auto at = std::find(run_series.begin(), run_series.end(), name);
        if (at == run_series.end()) at = run_series.insert(run_series.end(), name);
        points.push_back({static_cast<int>(at - run_series.begin()), run["score"].get<double>(),
                          run.value("warmup", false) == true, run.value("flagged", false) == true});
    }
    if (!points.empty()) section.charts.emplace_back("Score per run", svg_runs(run_series, points));

    std::vector<std::string> builds;
    std::vector<SpreadPoint> spread;
    std::set<int> counts;
    for (const SummaryFigure& s : summary_figures(doc)) {
        if (s.host != host) continue;
        auto at = std::find(builds.begin(), builds.end(), s.build);
        if (at == builds.end()) at = builds.insert(builds.end(), s.build);
        spread.push_back({static_cast<int>(at - builds.begin()), s.copies, s.median, s.min, s.max, s.efficiency});
        counts.insert(s.copies);
    }
    if (spread.empty()) return;
    section.charts.emplace_back("Median and spread per copy count", svg_spread(builds, spread));
    if (counts.size() > 1) section.charts.emplace_back("Scaling over copy counts", svg_scaling(builds, spread));
    std::vector<Row> rows;
    for (const Json& e : comparisons_of(doc, host)) {
        rows.push_back({field(e, "b") + " / " + field(e, "a") + ", " + field(e, "copies") + " copies", 0,
                        number_of(e, "ratio"), number_of(e, "ratio_low"), number_of(e, "ratio_high"),
                        field(e, "verdict")});
    }
    if (!rows.empty()) {
        section.charts.emplace_back("Builds compared",
                                    svg_rows("ratio of medians, B over A, with its interval", rows, 1.0));
    }
}

Section fleet_section(const Json& doc, bool charts) {
    Section section{"Side by side", {}, {}, {}};
    const std::vector<SummaryFigure> summary = summary_figures(doc);
    std::set<std::string> hosts, builds;
    std::set<int> counts;
    for (const SummaryFigure& s : summary) {
        hosts.insert(s.host);
        builds.insert(s.build);
        counts.insert(s.copies);
    }
    auto label = [&](const SummaryFigure& s) {
        if (builds.size() == 1) return s.host;
        return hosts.size() == 1 ? s.build : s.host + " / " + s.build;
    };
    Table table{
        "Median rate score per copy count, with min and max",
        {"host", "build", "copies", "rounds", "median", "min", "max", "scaling", "against the first", "verdict"},
        {}};
    // Each series' rate scores, for the rank test against the first series of the same copy count.
    const std::vector<RoundFigure> rounds = round_figures(doc);
    auto rates_of = [&rounds](const SummaryFigure& s) {
        std::vector<double> rates;
        for (const RoundFigure& r : rounds) {
            if (!r.warmup && r.host == s.host && r.build == s.build && r.copies == s.copies) rates.push_back(r.rate);
        }
        return rates;
    };
    for (int copies : counts) {
        std::vector<Row> rows;
        std::vector<double> first;
        for (const SummaryFigure& s : summary) {
            if (s.copies != copies) continue;
            std::string against, verdict;
            if (rows.empty()) {
                first = rates_of(s);
            } else {
                const SampleComparison c = compare_samples(first, rates_of(s));
                against = number_text(c.ratio, 3) + " (" + number_text(c.ratio_low, 3) + " to " +
                          number_text(c.ratio_high, 3) + ")";
                verdict = verdict_text(c.verdict);
            }
            table.rows.push_back({s.host, s.build, std::to_string(s.copies), std::to_string(s.rounds),
                                  number_text(s.median), number_text(s.min), number_text(s.max),
                                  s.efficiency ? number_text(*s.efficiency * 100, 1) + " %" : "", against, verdict});
            rows.push_back({label(s), static_cast<int>(rows.size()), s.median, s.min, s.max, verdict});
        }
        if (charts) {
            const std::string title = std::to_string(copies) + (copies == 1 ? " copy" : " copies");
            section.charts.emplace_back(title, svg_rows("median rate score (bar: min to max)", rows, std::nullopt));
        }
    }
    section.tables.push_back(table);
    return section;
}

std::vector<Section> sections_of(const Json& doc, bool charts) {
    std::vector<Section> sections;
    Section overview{"Results", {}, {}, {}};
    add_fact(overview, "calls", std::to_string(doc.value("calls", Json::array()).size()));
    add_fact(overview, "hosts", std::to_string(doc["hosts"].size()));
    add_fact(overview, "runs", std::to_string(doc["runs"].size()));
    add_fact(overview, "flagged runs", field(doc, "flagged_runs"));
    add_fact(overview, "from", field(doc, "started_utc") + " to " + field(doc, "ended_utc"));
    add_fact(overview, "unit", field(doc, "unit"));
    add_fact(overview, "reportable",
             field(doc, "reportable") +
                 (field(doc, "reportable_reasons").empty() ? "" : ": " + field(doc, "reportable_reasons")));
    add_fact(overview, "citation", field(doc, "citation"));
    sections.push_back(overview);
    std::set<std::pair<std::string, std::string>> series;
    for (const SummaryFigure& s : summary_figures(doc)) series.emplace(s.host, s.build);
    if (series.size() > 1) sections.push_back(fleet_section(doc, charts));

    for (const Json& host : doc["hosts"]) {
        const std::string id = field(host, "id");
        Section section{"Host " + id, {}, {}, {}};
        add_fact(section, "hostname", field(host, "hostname"));
        add_fact(section, "label", field(host, "label"));
        machine_facts(section, host.is_object() ? host.value("machine", Json()) : Json());
        std::set<std::string> used;
        for (const Json& run : doc["runs"]) {
            if (field(run, "host") == id) used.insert(field(run, "build"));
        }
        if (charts) host_charts(section, doc, id);
        for (Table table : {builds_table(doc.value("builds", Json::array()), used),
                            calls_table(doc.value("calls", Json::array()), id), summary_table(doc["summary"], id),
                            comparison_table(comparisons_of(doc, id)), flagged_table(doc["runs"], id)}) {
            if (!table.rows.empty()) section.tables.push_back(std::move(table));
        }
        sections.push_back(std::move(section));
    }
    return sections;
}

// A Markdown cell: one line, no column break, no markup taken as HTML.
std::string md_cell(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '|' || c == '\\' || c == '*' || c == '_' || c == '`' || c == '[' || c == ']') out += '\\';
        if (c == '<') {
            out += "&lt;";
        } else if (c == '&') {
            out += "&amp;";
        } else if (c == '\n' || c == '\r' || c == '\t') {
            out += ' ';
        } else {
            out += c;
        }
    }
    return out;
}

// A CSV field: quoted when it has to be; text that a spreadsheet would take
// as a formula is led by an apostrophe.
std::string csv_field(const Json& value) {
    std::string text;
    if (value.is_string()) {
        text = value.get<std::string>();
        if (!text.empty() && std::string("=+-@\t\r").find(text[0]) != std::string::npos) text = "'" + text;
    } else if (!value.is_null()) {
        text = value.dump(-1, ' ', false, Json::error_handler_t::replace);
    }
    if (text.find_first_of(",\"\n\r") == std::string::npos) return text;
    std::string quoted = "\"";
    for (const char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

constexpr const char* kStyle = R"(
body{font:15px/1.4 system-ui,sans-serif;color:#111;background:#fff;margin:0 auto;max-width:1200px;padding:0 12px}
h1{font-size:1.5em}h2{font-size:1.2em;border-bottom:1px solid #999;margin-top:1.6em}h3{font-size:1em}
dl{display:grid;grid-template-columns:max-content 1fr;gap:2px 12px;margin:8px 0}dt{font-weight:600}dd{margin:0;
overflow-wrap:anywhere}
.charts{display:flex;flex-wrap:wrap;gap:12px}figure{margin:0;flex:1 1 420px;max-width:620px}
figcaption{font-weight:600;font-size:.9em}
svg{width:100%;height:auto}svg text{font:11px sans-serif;fill:#111}.grid{stroke:#ddd}
.scroll{overflow-x:auto}table{border-collapse:collapse;margin:4px 0 12px;font-variant-numeric:tabular-nums}
th,td{border:1px solid #bbb;padding:2px 6px;text-align:left;vertical-align:top}caption{text-align:left;font-weight:600}
@media (max-width:600px){body{font-size:14px;padding:0 6px}dl{grid-template-columns:1fr}dt{margin-top:4px}}
@media print{body{max-width:none;font-size:9pt}section{break-before:auto}figure,table{break-inside:avoid}
.scroll{overflow:visible}figure{max-width:48%}}
)";

}  // namespace

std::string report_markdown(const Json& doc) {
    std::string out = "# ptrun report\n";
    for (const Section& section : sections_of(doc, false)) {
        out += "\n## " + md_cell(section.title) + "\n\n";
        for (const auto& [name, value] : section.facts) out += "- **" + md_cell(name) + "**: " + md_cell(value) + "\n";
        for (const Table& table : section.tables) {
            out += "\n**" + md_cell(table.caption) + "**\n\n|";
            for (const std::string& head : table.head) out += " " + md_cell(head) + " |";
            out += "\n|";
            for (std::size_t i = 0; i < table.head.size(); ++i) out += "---|";
            for (const std::vector<std::string>& row : table.rows) {
                out += "\n|";
                for (const std::string& cell : row) out += " " + md_cell(cell) + " |";
            }
            out += "\n";
        }
    }
    return out;
}

std::string report_csv(const Json& doc) {
    std::vector<std::string> columns;
    for (const Json& run : doc["runs"]) {
        for (const auto& [key, value] : run.items()) {
            if (std::find(columns.begin(), columns.end(), key) == columns.end()) columns.push_back(key);
        }
    }
    std::string out;
    for (std::size_t i = 0; i < columns.size(); ++i) out += (i ? "," : "") + csv_field(columns[i]);
    out += "\r\n";
    for (const Json& run : doc["runs"]) {
        for (std::size_t i = 0; i < columns.size(); ++i) {
            out += (i ? "," : "") + (run.contains(columns[i]) ? csv_field(run[columns[i]]) : std::string());
        }
        out += "\r\n";
    }
    return out;
}

std::string report_html(const Json& doc) {
    std::string out =
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
        "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; style-src 'unsafe-inline'\">"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\"><title>ptrun report</title><style>";
    out += kStyle;
    out += "</style></head><body><h1>ptrun report</h1>\n";
    for (const Section& section : sections_of(doc, true)) {
        out += "<section><h2>" + escape_html(section.title) + "</h2>\n";
        if (!section.facts.empty()) {
            out += "<dl>";
            for (const auto& [name, value] : section.facts) {
                out += "<dt>" + escape_html(name) + "</dt><dd>" + escape_html(value) + "</dd>";
            }
            out += "</dl>\n";
        }
        if (!section.charts.empty()) {
            out += "<div class=\"charts\">";
            for (const auto& [title, chart] : section.charts) {
                out += "<figure><figcaption>" + escape_html(title) + "</figcaption>" + chart + "</figure>\n";
            }
            out += "</div>\n";
        }
        for (const Table& table : section.tables) {
            out += "<div class=\"scroll\"><table><caption>" + escape_html(table.caption) + "</caption><tr>";
            for (const std::string& head : table.head) out += "<th>" + escape_html(head) + "</th>";
            out += "</tr>";
            for (const std::vector<std::string>& row : table.rows) {
                out += "\n<tr>";
                for (const std::string& cell : row) out += "<td>" + escape_html(cell) + "</td>";
                out += "</tr>";
            }
            out += "</table></div>\n";
        }
        out += "</section>\n";
    }
    return out + "</body></html>\n";
}

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
    const std::optional<std::vector<Json>> documents = load_all(paths, error);
    if (!documents) {
        std::fprintf(stderr, "ptrun: %s\n", error.c_str());
        return 2;
    }
    std::string text;
    try {
        const Json doc = merge_documents(*documents);
        text = format == "md" ? report_markdown(doc) : format == "csv" ? report_csv(doc) : report_html(doc);
    } catch (const Json::exception& e) {
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
