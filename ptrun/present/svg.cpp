#include "present/svg.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <set>

namespace ptrun {

namespace {

// Blue, orange, bluish green, reddish purple, sky blue, vermillion, black:
// distinct for the usual colour blindnesses and on paper.
constexpr const char* kColours[] = {"#0072B2", "#E69F00", "#009E73", "#CC79A7", "#56B4E9", "#D55E00", "#000000"};
constexpr int kShapes = 5;  // circle, square, diamond, triangle, inverted triangle

constexpr double kWidth = 480, kLeft = 64, kRight = 16, kTop = 14, kPlot = 150;

const char* colour_of(int series) { return kColours[static_cast<unsigned>(series) % std::size(kColours)]; }

// A marker of the series' shape; hollow draws the outline only.
std::string marker(int series, double x, double y, double r, bool hollow) {
    const std::string fill = hollow ? "#fff" : colour_of(series);
    const std::string paint = " fill=\"" + fill + "\" stroke=\"" + colour_of(series) + "\" stroke-width=\"1.5\"";
    const std::string cx = number_text(x, 1), cy = number_text(y, 1);
    auto at = [&](double dx, double dy) { return number_text(x + dx * r, 1) + "," + number_text(y + dy * r, 1); };
    switch (static_cast<unsigned>(series) % kShapes) {
        case 0:
            return "<circle cx=\"" + cx + "\" cy=\"" + cy + "\" r=\"" + number_text(r, 1) + "\"" + paint + "/>";
        case 1:
            return "<rect x=\"" + number_text(x - r * 0.9, 1) + "\" y=\"" + number_text(y - r * 0.9, 1) +
                   "\" width=\"" + number_text(r * 1.8, 1) + "\" height=\"" + number_text(r * 1.8, 1) + "\"" + paint +
                   "/>";
        case 2:
            return "<polygon points=\"" + at(0, -1.2) + " " + at(1.2, 0) + " " + at(0, 1.2) + " " + at(-1.2, 0) + "\"" +
                   paint + "/>";
        case 3:
            return "<polygon points=\"" + at(0, -1.2) + " " + at(1.1, 0.9) + " " + at(-1.1, 0.9) + "\"" + paint + "/>";
        default:
            return "<polygon points=\"" + at(0, 1.2) + " " + at(1.1, -0.9) + " " + at(-1.1, -0.9) + "\"" + paint + "/>";
    }
}

std::string cross(double x, double y, double r) {
    const std::string a = number_text(x - r, 1), b = number_text(x + r, 1);
    const std::string c = number_text(y - r, 1), d = number_text(y + r, 1);
    return "<path d=\"M" + a + " " + c + "L" + b + " " + d + "M" + a + " " + d + "L" + b + " " + c +
           "\" stroke=\"#000\" stroke-width=\"2\"/>";
}

std::string line(double x1, double y1, double x2, double y2, const std::string& style) {
    return "<line x1=\"" + number_text(x1, 1) + "\" y1=\"" + number_text(y1, 1) + "\" x2=\"" + number_text(x2, 1) +
           "\" y2=\"" + number_text(y2, 1) + "\" " + style + "/>";
}

std::string text(double x, double y, const std::string& anchor, const std::string& content) {
    return "<text x=\"" + number_text(x, 1) + "\" y=\"" + number_text(y, 1) + "\" text-anchor=\"" + anchor + "\">" +
           escape_html(content) + "</text>";
}

// At most `limit` characters of UTF-8 text, never cutting one in two.
std::string shortened(const std::string& label, std::size_t limit) {
    std::size_t characters = 0;
    for (std::size_t i = 0; i < label.size(); ++i) {
        if ((static_cast<unsigned char>(label[i]) & 0xC0) == 0x80) continue;
        if (++characters > limit) return label.substr(0, i) + "\u2026";
    }
    return label;
}

// A linear axis over [low, high] with round ticks.
struct Axis {
    double low = 0, high = 1, step = 1;
    double from = 0, to = 1;  // pixels
    double at(double value) const { return from + (value - low) / (high - low) * (to - from); }
    // Counted, not stepped: a step below the values' precision would never
    // get anywhere.
    std::vector<double> ticks() const {
        std::vector<double> values;
        const double n = std::round((high - low) / step);
        for (int i = 0; std::isfinite(n) && i <= std::min(n, 50.0); ++i) values.push_back(low + i * step);
        return values;
    }
};

Axis axis_over(double low, double high, double from, double to) {
    if (!std::isfinite(low) || !std::isfinite(high)) low = 0, high = 1;
    // A span too narrow for a normal double (values that are all one tiny
    // number) has no power of ten to step by: widened to one that has.
    constexpr double kNarrowest = std::numeric_limits<double>::min() * 16;
    if (high - low < kNarrowest) {
        const double pad = low == 0 ? 1 : std::max(std::fabs(low) * 0.05, kNarrowest);
        low -= pad;
        high = std::min(high + pad, std::numeric_limits<double>::max());
    }
    // Quarters each, so that a span of the largest doubles does not overflow.
    const double rough = high / 4 - low / 4;
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    double step = power;
    for (double factor : {1.0, 2.0, 5.0, 10.0}) {
        step = factor * power;
        if (step >= rough) break;
    }
    return {std::floor(low / step) * step, std::ceil(high / step) * step, step, from, to};
}

int decimals_for(double step) { return step >= 1 ? 0 : std::min(6, static_cast<int>(std::ceil(-std::log10(step)))); }

// Grid lines and labels of a vertical value axis.
std::string y_axis(const Axis& y, double left, double right, const std::string& unit) {
    std::string out;
    const int decimals = decimals_for(y.step);
    for (const double v : y.ticks()) {
        out += line(left, y.at(v), right, y.at(v), "class=\"grid\"");
        out += text(left - 4, y.at(v) + 4, "end", number_text(v, decimals) + unit);
    }
    return out;
}

std::string begin(double height, const std::string& label) {
    return "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 " + number_text(kWidth, 0) + " " +
           number_text(height, 0) + "\" role=\"img\" aria-label=\"" + escape_html(label) + "\">";
}

// Each series' marker and name under the plot; returns its height.
double legend(std::string& out, const std::vector<std::string>& series, double top) {
    if (series.size() < 2) return 0;
    const int columns = 3;
    for (std::size_t i = 0; i < series.size(); ++i) {
        const double x = 12 + static_cast<double>(i % columns) * (kWidth - 24) / columns;
        const double y = top + 14 + static_cast<double>(i / columns) * 16;
        out += marker(static_cast<int>(i), x + 4, y - 4, 4, false);
        out += text(x + 14, y, "start", shortened(series[i], 20));
    }
    return 14 + static_cast<double>((series.size() + columns - 1) / columns) * 16;
}

// The distinct copy counts, ascending, as the category axis.
std::vector<int> copy_counts(const std::vector<SpreadPoint>& points) {
    std::set<int> counts;
    for (const SpreadPoint& p : points) counts.insert(p.copies);
    return {counts.begin(), counts.end()};
}

double category_x(const std::vector<int>& counts, int copies, double left, double right) {
    const auto at = std::find(counts.begin(), counts.end(), copies) - counts.begin();
    return left + (static_cast<double>(at) + 0.5) * (right - left) / static_cast<double>(counts.size());
}

}  // namespace

std::string escape_html(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                // Control characters have no place in a page.
                out += static_cast<unsigned char>(c) < 0x20 && c != '\n' && c != '\t' ? ' ' : c;
        }
    }
    return out;
}

std::string number_text(double value, int decimals) {
    if (!std::isfinite(value)) return "0";
    char buffer[400];  // the longest double in fixed notation, with its decimals
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    if (result.ec != std::errc()) return "0";
    std::string out(buffer, result.ptr);
    return out == "-0" || out.find_first_not_of("-0.") == std::string::npos ? out.substr(out[0] == '-') : out;
}

std::string svg_runs(const std::vector<std::string>& series, const std::vector<RunPoint>& points) {
    std::vector<int> count(series.size(), 0);
    double low = INFINITY, high = -INFINITY;
    for (const RunPoint& p : points) {
        low = std::min(low, p.value);
        high = std::max(high, p.value);
        ++count.at(static_cast<std::size_t>(p.series));
    }
    const int most = count.empty() ? 1 : std::max(1, *std::max_element(count.begin(), count.end()));
    const Axis y = axis_over(low, high, kTop + kPlot, kTop);
    const Axis x{0.5, most + 0.5, 1, kLeft, kWidth - kRight};
    std::string out = y_axis(y, kLeft, kWidth - kRight, "");
    std::fill(count.begin(), count.end(), 0);
    for (const RunPoint& p : points) {
        const double px = x.at(++count[static_cast<std::size_t>(p.series)]), py = y.at(p.value);
        out += "<g><title>" + escape_html(series[static_cast<std::size_t>(p.series)]) + " run " +
               std::to_string(count[static_cast<std::size_t>(p.series)]) + ": " + number_text(p.value) +
               (p.warmup ? " (warm-up)" : "") + (p.flagged ? " (flagged)" : "") + "</title>";
        out += marker(p.series, px, py, 4, p.warmup);
        if (p.flagged) out += cross(px, py, 5);
        out += "</g>";
    }
    const double base = kTop + kPlot;
    out += text((kLeft + kWidth - kRight) / 2, base + 16, "middle", "run, in order (hollow: warm-up; cross: flagged)");
    const double height = base + 22 + legend(out, series, base + 20);
    return begin(height, "score per run") + out + "</svg>";
}

std::string svg_spread(const std::vector<std::string>& series, const std::vector<SpreadPoint>& points) {
    const std::vector<int> counts = copy_counts(points);
    double low = INFINITY, high = -INFINITY;
    for (const SpreadPoint& p : points) {
        low = std::min(low, p.low);
        high = std::max(high, p.high);
    }
    const Axis y = axis_over(low, high, kTop + kPlot, kTop);
    std::string out = y_axis(y, kLeft, kWidth - kRight, "");
    const double slot = (kWidth - kRight - kLeft) / static_cast<double>(std::max<std::size_t>(1, counts.size()));
    const double offset = slot * 0.6 / static_cast<double>(std::max<std::size_t>(1, series.size()));
    for (const SpreadPoint& p : points) {
        const double centre = category_x(counts, p.copies, kLeft, kWidth - kRight);
        const double px = centre + (p.series - (static_cast<double>(series.size()) - 1) / 2) * offset;
        out += "<g><title>" + escape_html(series[static_cast<std::size_t>(p.series)]) + ", " +
               std::to_string(p.copies) + (p.copies == 1 ? " copy" : " copies") + ": median " + number_text(p.median) +
               ", " + number_text(p.low) + " to " + number_text(p.high) + "</title>";
        out += line(px, y.at(p.low), px, y.at(p.high), std::string("stroke=\"") + colour_of(p.series) + "\"");
        out += line(px - 4, y.at(p.low), px + 4, y.at(p.low), std::string("stroke=\"") + colour_of(p.series) + "\"");
        out += line(px - 4, y.at(p.high), px + 4, y.at(p.high), std::string("stroke=\"") + colour_of(p.series) + "\"");
        out += marker(p.series, px, y.at(p.median), 4, false) + "</g>";
    }
    const double base = kTop + kPlot;
    for (int copies : counts) {
        out += text(category_x(counts, copies, kLeft, kWidth - kRight), base + 14, "middle", std::to_string(copies));
    }
    out += text((kLeft + kWidth - kRight) / 2, base + 28, "middle", "copies (marker: median; bar: min to max)");
    const double height = base + 34 + legend(out, series, base + 32);
    return begin(height, "median and spread per copy count") + out + "</svg>";
}

std::string svg_scaling(const std::vector<std::string>& series, const std::vector<SpreadPoint>& points) {
    const std::vector<int> counts = copy_counts(points);
    double high = 0, most_efficient = 1.0;
    for (const SpreadPoint& p : points) {
        high = std::max(high, p.median);
        if (p.efficiency) most_efficient = std::max(most_efficient, *p.efficiency);
    }
    const double half = (kWidth - kLeft) / 2;
    const Axis rate = axis_over(0, high, kTop + kPlot, kTop);
    const Axis efficiency = axis_over(0, most_efficient * 100, kTop + kPlot, kTop);
    const double left_end = kLeft + half - 20, right_start = kLeft + half + 36, right_end = kWidth - kRight;
    std::string out = y_axis(rate, kLeft, left_end, "") + y_axis(efficiency, right_start, right_end, "%");
    out += line(right_start, efficiency.at(100), right_end, efficiency.at(100),
                "stroke=\"#000\" stroke-dasharray=\"4 3\"");
    for (std::size_t s = 0; s < series.size(); ++s) {
        const int id = static_cast<int>(s);
        std::string rate_path, efficiency_path;
        std::string marks;
        for (const SpreadPoint& p : points) {
            if (p.series != id) continue;
            const double x = category_x(counts, p.copies, kLeft, left_end);
            rate_path += (rate_path.empty() ? "M" : "L") + number_text(x, 1) + " " + number_text(rate.at(p.median), 1);
            marks += marker(id, x, rate.at(p.median), 4, false);
            if (!p.efficiency) continue;
            const double ex = category_x(counts, p.copies, right_start, right_end);
            const double ey = efficiency.at(*p.efficiency * 100);
            efficiency_path += (efficiency_path.empty() ? "M" : "L") + number_text(ex, 1) + " " + number_text(ey, 1);
            marks += marker(id, ex, ey, 4, false);
        }
        const std::string style = std::string("\" fill=\"none\" stroke=\"") + colour_of(id) + "\"/>";
        out += "<path d=\"" + rate_path + style;
        if (!efficiency_path.empty()) out += "<path d=\"" + efficiency_path + style;
        out += marks;
    }
    const double base = kTop + kPlot;
    for (int copies : counts) {
        out += text(category_x(counts, copies, kLeft, left_end), base + 14, "middle", std::to_string(copies));
        out += text(category_x(counts, copies, right_start, right_end), base + 14, "middle", std::to_string(copies));
    }
    out += text((kLeft + left_end) / 2, base + 28, "middle", "copies: median rate score");
    out += text((right_start + right_end) / 2, base + 28, "middle", "copies: scaling efficiency");
    const double height = base + 34 + legend(out, series, base + 32);
    return begin(height, "scaling over copy counts") + out + "</svg>";
}

std::string svg_rows(const std::string& axis, const std::vector<Row>& rows, std::optional<double> reference) {
    constexpr double label_width = 150, verdict_width = 120, row_height = 20;
    double low = reference.value_or(INFINITY), high = reference.value_or(-INFINITY);
    for (const Row& r : rows) {
        low = std::min(low, r.low);
        high = std::max(high, r.high);
    }
    const double top = 8, bottom = top + row_height * static_cast<double>(rows.size());
    const Axis x = axis_over(low, high, label_width, kWidth - verdict_width);
    std::string out;
    const int decimals = decimals_for(x.step);
    for (const double v : x.ticks()) {
        out += line(x.at(v), top, x.at(v), bottom, "class=\"grid\"");
        out += text(x.at(v), bottom + 14, "middle", number_text(v, decimals));
    }
    if (reference) {
        out += line(x.at(*reference), top, x.at(*reference), bottom, "stroke=\"#000\" stroke-dasharray=\"4 3\"");
    }
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Row& r = rows[i];
        const double y = top + row_height * (static_cast<double>(i) + 0.5);
        out += "<g><title>" + escape_html(r.label) + ": " + number_text(r.value, 3) + " (" + number_text(r.low, 3) +
               " to " + number_text(r.high, 3) + ")" + (r.verdict.empty() ? "" : ": " + escape_html(r.verdict)) +
               "</title>";
        out += text(label_width - 6, y + 4, "end", shortened(r.label, 22));
        out += line(x.at(r.low), y, x.at(r.high), y,
                    std::string("stroke=\"") + colour_of(r.series) + "\" stroke-width=\"2\"");
        out += marker(r.series, x.at(r.value), y, 4, false);
        out += text(kWidth - verdict_width + 6, y + 4, "start", shortened(r.verdict, 20)) + "</g>";
    }
    out += text((label_width + kWidth - verdict_width) / 2, bottom + 28, "middle", axis);
    return begin(bottom + 34, axis) + out + "</svg>";
}

std::string svg_calls(const std::vector<std::vector<double>>& rounds, const std::vector<CallMark>& changes,
                      const std::string& first_label, const std::string& last_label) {
    double low = INFINITY, high = -INFINITY;
    for (const std::vector<double>& call : rounds) {
        for (double v : call) {
            low = std::min(low, v);
            high = std::max(high, v);
        }
    }
    const Axis y = axis_over(low, high, kTop + kPlot, kTop);
    const Axis x{-0.5, static_cast<double>(std::max<std::size_t>(1, rounds.size())) - 0.5, 1, kLeft, kWidth - kRight};
    std::string out = y_axis(y, kLeft, kWidth - kRight, ""), medians;
    for (std::size_t c = 0; c < rounds.size(); ++c) {
        const double px = x.at(static_cast<double>(c));
        std::vector<double> sorted = rounds[c];
        std::sort(sorted.begin(), sorted.end());
        for (double v : sorted) out += marker(0, px, y.at(v), 1.8, true);
        if (sorted.empty()) continue;
        const std::size_t n = sorted.size();
        const double median = n % 2 ? sorted[n / 2] : sorted[n / 2 - 1] + (sorted[n / 2] - sorted[n / 2 - 1]) / 2;
        medians += (medians.empty() ? "M" : "L") + number_text(px, 1) + " " + number_text(y.at(median), 1);
    }
    if (!medians.empty()) out += "<path d=\"" + medians + "\" fill=\"none\" stroke=\"#000\" stroke-width=\"1.2\"/>";
    for (const CallMark& change : changes) {
        const double px = x.at(static_cast<double>(change.first_call) - 0.5);
        out += line(px, kTop, px, kTop + kPlot, std::string("stroke=\"") + kColours[5] + "\" stroke-dasharray=\"4 3\"");
        out += text(px + 3, kTop + 10, "start", change.size);
    }
    const double base = kTop + kPlot;
    out += text(kLeft, base + 14, "start", shortened(first_label, 24));
    out += text(kWidth - kRight, base + 14, "end", shortened(last_label, 24));
    out += text((kLeft + kWidth - kRight) / 2, base + 28, "middle", "calls in order (points: rounds; line: medians)");
    return begin(base + 34, "rate score per call") + out + "</svg>";
}

std::string svg_stacked(const std::string& axis, const std::vector<std::string>& parts,
                        const std::vector<StackedRow>& rows) {
    constexpr double label_width = 150, row_height = 24, bar = 16;
    double high = 0;
    for (const StackedRow& r : rows) {
        double sum = 0;
        for (double v : r.values) sum += v;
        high = std::max(high, sum);
    }
    const double top = 8, bottom = top + row_height * static_cast<double>(rows.size());
    const Axis x = axis_over(0, high, label_width, kWidth - kRight);
    std::string out;
    const int decimals = decimals_for(x.step);
    for (const double v : x.ticks()) {
        out += line(x.at(v), top, x.at(v), bottom, "class=\"grid\"");
        out += text(x.at(v), bottom + 14, "middle", number_text(v, decimals));
    }
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const double y = top + row_height * static_cast<double>(i) + (row_height - bar) / 2;
        out += text(label_width - 6, y + bar / 2 + 4, "end", shortened(rows[i].label, 22));
        double from = 0;
        for (std::size_t p = 0; p < parts.size() && p < rows[i].values.size(); ++p) {
            const double to = from + rows[i].values[p];
            const double x0 = x.at(from), width = x.at(to) - x0;
            out += "<g><title>" + escape_html(rows[i].label + ", " + parts[p]) + ": " +
                   number_text(rows[i].values[p], 4) + "</title><rect x=\"" + number_text(x0, 1) + "\" y=\"" +
                   number_text(y, 1) + "\" width=\"" + number_text(width, 1) + "\" height=\"" + number_text(bar, 1) +
                   "\" fill=\"" + colour_of(static_cast<int>(p)) + "\" stroke=\"#fff\"/>";
            // Named where it fits, so that no part is told by its colour alone.
            if (width > 7.0 * static_cast<double>(parts[p].size())) {
                out += "<text x=\"" + number_text(x0 + width / 2, 1) + "\" y=\"" + number_text(y + bar / 2 + 4, 1) +
                       "\" text-anchor=\"middle\" fill=\"#fff\">" + escape_html(parts[p]) + "</text>";
            }
            out += "</g>";
            from = to;
        }
    }
    out += text((label_width + kWidth - kRight) / 2, bottom + 28, "middle", axis);
    std::string names;
    for (std::size_t p = 0; p < parts.size(); ++p) {
        const double px = label_width + static_cast<double>(p % 3) * 110;
        const double py = bottom + 44 + 16 * static_cast<double>(p / 3);
        names += "<rect x=\"" + number_text(px, 1) + "\" y=\"" + number_text(py - 9, 1) +
                 "\" width=\"10\" height=\"10\" fill=\"" + colour_of(static_cast<int>(p)) + "\"/>" +
                 text(px + 14, py, "start", parts[p]);
    }
    const double height = bottom + 44 + 16 * static_cast<double>((parts.size() + 2) / 3);
    return begin(height, axis) + out + names + "</svg>";
}

}  // namespace ptrun
