#include "present/formats.h"

#include <algorithm>
#include <array>

namespace ptrun {

// The writers, a file per format (history's in history.cpp); only this table calls them.
std::string report_markdown(const Document& document);
std::string comparison_markdown(const Comparison& comparison);
std::string history_markdown(const History& history);
std::string terminal_table(const Document& document);
std::string comparison_terminal(const Comparison& comparison);
std::string history_terminal(const History& history);
std::string report_csv(const Document& document);
std::string comparison_csv(const Comparison& comparison);
std::string history_csv(const History& history);
std::string report_html(const Document& document);
std::string comparison_html(const Comparison& comparison);
std::string history_html(const History& history);
std::string report_json(const Document& document);
std::string comparison_json(const Comparison& comparison);
std::string history_json(const History& history);
std::string report_openmetrics(const Document& document);
std::string comparison_openmetrics(const Comparison& comparison);
std::string report_bencher(const Document& document);
std::string comparison_bencher(const Comparison& comparison);

namespace {

// A CSV of runs shows each host's standing, but no comparison and no citation.
constexpr Figures kRunsAndStanding{true, false, true, false};
// Figures for a dashboard: the series and the comparisons.
constexpr Figures kSeriesAndComparisons{true, true, false, false};

constexpr std::array kFormats = {
    Format{"md", "md", "Markdown tables, for a job summary or wherever Markdown is shown", comparison_markdown,
           report_markdown, history_markdown},
    Format{"table", "txt", "aligned lines for a terminal", comparison_terminal, terminal_table, history_terminal},
    Format{"csv", "csv", "rows for spreadsheets: a run each (report), a call each (history), a comparison and a "
                         "module each (compare)",
           comparison_csv, report_csv, history_csv, kRunsAndStanding},
    Format{"html", "html", "one self-contained page with SVG charts", comparison_html, report_html, history_html},
    Format{"json", "json", "the figures as JSON: the merged results file (report), the series (history), the "
                           "comparison (compare)",
           comparison_json, report_json, history_json},
    Format{"openmetrics", "prom", "OpenMetrics text for Prometheus: each series' median between its lowest and "
                                  "highest round, its rounds, and B against A",
           comparison_openmetrics, report_openmetrics, nullptr, kSeriesAndComparisons},
    Format{"bencher", "json", "Bencher's metric format JSON: each series' throughput, and B against A as a ratio",
           comparison_bencher, report_bencher, nullptr, kSeriesAndComparisons},
};

}  // namespace

bool Format::shows(ResultKind kind) const {
    switch (kind) {
        case ResultKind::comparison: return comparison != nullptr;
        case ResultKind::report: return report != nullptr;
        case ResultKind::history: return history != nullptr;
    }
    return false;
}

std::span<const Format> formats() { return kFormats; }

const Format* find_format(std::string_view name) {
    const auto at = std::find_if(kFormats.begin(), kFormats.end(), [&](const Format& f) { return f.name == name; });
    return at == kFormats.end() ? nullptr : &*at;
}

}  // namespace ptrun
