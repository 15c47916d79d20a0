// Charts as inline SVG for the HTML report: pure drawing from figures, no
// state. Every series has a colour of a palette that stays apart under the
// common kinds of colour blindness and a shape of its own, so nothing is told
// by colour alone; numbers are written in the C locale. No label is cut: the
// room for labels is sized from the longest, and a longer one wraps between
// words; both axes of every chart are labelled.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace ptrun {

// Text safe inside HTML and SVG elements and attributes.
std::string escape_html(const std::string& text);
// A number with at most `decimals` decimals, a point as the separator,
// whatever the process's locale says.
std::string number_text(double value, int decimals = 2);

// One run of "score per run": x is its place in its series.
struct RunPoint {
    int series = 0;
    double value = 0;
    bool warmup = false, flagged = false;
};

// Median and spread of one series at one copy count.
struct SpreadPoint {
    int series = 0;
    int copies = 0;
    double median = 0, low = 0, high = 0;
    std::optional<double> efficiency;
};

// One row of a side-by-side chart: a value with its interval, and a verdict
// when there is one.
struct Row {
    std::string label;
    int series = 0;
    double value = 0, low = 0, high = 0;
    std::string verdict;
};

std::string svg_runs(const std::vector<std::string>& series, const std::vector<RunPoint>& points);
std::string svg_spread(const std::vector<std::string>& series, const std::vector<SpreadPoint>& points);
// The rate score and the scaling efficiency over the copy counts, side by side.
std::string svg_scaling(const std::vector<std::string>& series, const std::vector<SpreadPoint>& points);
// A series of calls in time order: every round a point, each call's median
// joined by a line, the calls named by their labels (one each) where there
// is room, and its marks, each kind drawn its own way and named in a key:
// a change as a dashed line before its first call with its size, an
// outlier call as a ring about its median with its size, an accepted change
// as a broad solid line before its first call.
enum class MarkKind { change, outlier, accepted };
struct CallMark {
    std::size_t first_call = 0;  // the call it marks (a change or an acceptance: the first after it)
    std::string size;            // "-4.8 %"; of an acceptance, "accepted"
    MarkKind kind = MarkKind::change;
};
std::string svg_calls(const std::vector<std::vector<double>>& rounds, const std::vector<CallMark>& marks,
                      const std::vector<std::string>& labels);

// Series on one scale over time: each series' calls as points of its shape
// joined by a line (of many points, only each series' newest marked), x in
// days since 1970-01-01 (UTC), each series' points in time order, dates
// under the axis.
struct TimePoint {
    int series = 0;
    double day = 0, value = 0;
};
std::string svg_timeline(const std::vector<std::string>& series, const std::vector<TimePoint>& points);
// "2026-11-03": the date of a day counted from 1970-01-01.
std::string date_text(long day);

// One bar per row, its parts side by side in the order of `parts`, each
// coloured and named (in the bar where it fits, in every part's title).
struct StackedRow {
    std::string label;
    std::vector<double> values;  // one per part, at least 0
};
std::string svg_stacked(const std::string& axis, const std::vector<std::string>& parts,
                        const std::vector<StackedRow>& rows);
// Rows on one axis; with a reference (a ratio of 1, say) a line marks it.
std::string svg_rows(const std::string& axis, const std::vector<Row>& rows, std::optional<double> reference);

}  // namespace ptrun
