// `ptrun history` in every format report has: the series of calls, their
// change points and what changed at each, as a terminal table, Markdown,
// CSV, an HTML page with a chart per series, or JSON.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "decide/history.h"

namespace ptrun {

struct HistoryFormat {
    std::string_view name;  // as --format takes it, the same names as report's
    std::string_view help;
    std::string (*render)(const History&);
};

// The default first: md, then table, csv, html, json.
std::span<const HistoryFormat> history_formats();
const HistoryFormat* find_history_format(std::string_view name);

// "host, build, 1 copy"
std::string series_text(const Series& series);
// "-4.8 %": the estimate of after against before.
std::string change_size_text(const SampleComparison& figures);
// "kernel 6.1.0-18 -> 6.1.0-21; microcode 0xa -> 0xb", or "nothing recorded differs".
std::string differences_text(const std::vector<Difference>& differences);

}  // namespace ptrun
