#include "present/svg.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>
#include <set>
#include <utility>

namespace ptrun {

namespace {

// Blue, orange, bluish green, reddish purple, sky blue, vermillion, black:
// distinct for the usual colour blindnesses and on paper.
constexpr const char* kColours[] = {"#0072B2", "#E69F00", "#009E73", "#CC79A7", "#56B4E9", "#D55E00", "#000000"};
constexpr int kShapes = 5;  // circle, square, diamond, triangle, inverted triangle

// The most points a timeline marks each of.
constexpr std::size_t kMarkedPoints = 1500;
constexpr double kWidth = 480, kLeft = 64, kRight = 16, kTop = 14, kPlot = 150, kLine = 13;

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

// The width of a text at 11 px in the common sans-serif faces, rather over
// than under: there are no font metrics here, and a label wider than the
// room it was given would be cut at the chart's edge.
double text_width(const std::string& content) {
    double em = 0;
    for (const char c : content) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte & 0xC0) == 0x80) continue;  // the rest of a UTF-8 character
        if (byte >= 0x80 || std::strchr("mwMW%@+=<>#~&", c) != nullptr) {
            em += 1.0;
        } else if (std::strchr(" .,:;'!|ijlI()[]/", c) != nullptr) {
            em += 0.4;
        } else if (std::strchr("frt-", c) != nullptr) {
            em += 0.5;
        } else {
            em += std::isupper(byte) != 0 ? 0.8 : 0.65;
        }
    }
    return em * 11;
}

std::vector<std::string> words_of(const std::string& content) {
    std::vector<std::string> words;
    for (std::size_t from = 0; from < content.size();) {
        const std::size_t to = std::min(content.find(' ', from), content.size());
        if (to > from) words.push_back(content.substr(from, to - from));
        from = to + 1;
    }
    return words;
}

// The text in lines of at most `room` pixels, broken between words only; a
// word wider than the room is a line of its own.
std::vector<std::string> lines_of(const std::string& content, double room) {
    std::vector<std::string> lines;
    std::string line;
    for (const std::string& word : words_of(content)) {
        const std::string longer = line.empty() ? word : line + " " + word;
        if (!line.empty() && text_width(longer) > room) {
            lines.push_back(line);
            line = word;
        } else {
            line = longer;
        }
    }
    lines.push_back(line);
    return lines;
}

// The width of the widest of the labels.
double widest(const std::vector<std::string>& labels) {
    double most = 0;
    for (const std::string& label : labels) most = std::max(most, text_width(label));
    return most;
}

// The room for the widest of the labels, at most `most` unless a word is
// wider: what is wider than the room wraps between its words.
double room_for(const std::vector<std::string>& labels, double most) {
    double widest_word = 0;
    for (const std::string& label : labels) {
        for (const std::string& word : words_of(label)) widest_word = std::max(widest_word, text_width(word));
    }
    return std::max(std::min(widest(labels), most), widest_word);
}

// Lines of text, one under the other, centred on y.
std::string text_lines(double x, double y, const std::string& anchor, const std::vector<std::string>& lines) {
    std::string out;
    const double first = y + 4 - static_cast<double>(lines.size() - 1) * kLine / 2;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        out += text(x, first + static_cast<double>(i) * kLine, anchor, lines[i]);
    }
    return out;
}

// A text centred on x, moved in as far as it must be to stay within the width.
std::string centred(double x, double y, const std::string& content, double width) {
    const double half = text_width(content) / 2 + 1;
    return text(std::clamp(x, std::min(half, width / 2), std::max(width - half, width / 2)), y, "middle", content);
}

// Every how many of the ticks `spacing` pixels apart a label `wide` pixels
// can go without running into the next: 1, 2, 5, 10, 20 ...
std::size_t label_every(double wide, double spacing) {
    if (!(spacing > 0)) return 1;
    for (std::size_t power = 1; power < 1000000000; power *= 10) {
        for (const std::size_t factor : {1, 2, 5}) {
            if (static_cast<double>(factor * power) * spacing >= wide + 8) return factor * power;
        }
    }
    return 1000000000;
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

// The labels of a value axis' ticks.
std::vector<std::string> tick_labels(const Axis& axis, const std::string& unit) {
    std::vector<std::string> labels;
    for (const double v : axis.ticks()) labels.push_back(number_text(v, decimals_for(axis.step)) + unit);
    return labels;
}

// Where a plot begins whose value axis is labelled on its left: after the
// widest label, and never before kLeft.
double left_of(const Axis& y, const std::string& unit) { return std::max(kLeft, widest(tick_labels(y, unit)) + 8); }

// Grid lines and labels of a vertical value axis.
std::string y_axis(const Axis& y, double left, double right, const std::string& unit) {
    std::string out;
    const std::vector<std::string> labels = tick_labels(y, unit);
    const std::vector<double> ticks = y.ticks();
    for (std::size_t i = 0; i < ticks.size(); ++i) {
        out += line(left, y.at(ticks[i]), right, y.at(ticks[i]), "class=\"grid\"");
        out += text(left - 4, y.at(ticks[i]) + 4, "end", labels[i]);
    }
    return out;
}

// Grid lines over [top, bottom] of a horizontal value axis, and under it
// the labels of as many as have room, the chart `width` wide.
std::string x_axis(const Axis& x, double top, double bottom, double width) {
    const std::vector<std::string> labels = tick_labels(x, "");
    const std::vector<double> ticks = x.ticks();
    const double spacing = ticks.size() > 1 ? x.at(ticks[1]) - x.at(ticks[0]) : 0;
    const std::size_t every = label_every(widest(labels), spacing);
    std::string out;
    for (std::size_t i = 0; i < ticks.size(); ++i) {
        out += line(x.at(ticks[i]), top, x.at(ticks[i]), bottom, "class=\"grid\"");
        if (i % every == 0) out += centred(x.at(ticks[i]), bottom + 14, labels[i], width);
    }
    return out;
}

std::string begin(double width, double height, const std::string& label) {
    return "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 " + number_text(width, 0) + " " +
           number_text(height, 0) + "\" role=\"img\" aria-label=\"" + escape_html(label) + "\">";
}

// How wide a chart must be for its key's longest word: at least kWidth.
double width_for(const std::vector<std::string>& names) { return std::max(kWidth, room_for(names, 0) + 44); }

// Each name with its swatch under the plot, in as many columns (at most
// three) as the widest name leaves room for, a name too wide for its column
// wrapped between words; returns the height taken.
template <typename Swatch>
double key(std::string& out, const std::vector<std::string>& names, double top, double width, Swatch swatch) {
    const double room = width - 24;
    const double name_width = room_for(names, room - 20);
    const auto columns = static_cast<std::size_t>(std::clamp(std::floor(room / (name_width + 28)), 1.0, 3.0));
    const double column_width = room / static_cast<double>(columns);
    double y = top, row = 0;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i % columns == 0) y += std::exchange(row, 0);
        const double x = 12 + static_cast<double>(i % columns) * column_width;
        const std::vector<std::string> lines = lines_of(names[i], column_width - 20);
        out += swatch(i, x + 4, y + 10);
        for (std::size_t l = 0; l < lines.size(); ++l) {
            out += text(x + 14, y + 14 + kLine * static_cast<double>(l), "start", lines[l]);
        }
        row = std::max(row, 3 + kLine * static_cast<double>(lines.size()));
    }
    return y + row + 14 - top;
}

// Each series' marker and name under the plot, where there are several; returns the height taken.
double legend(std::string& out, const std::vector<std::string>& series, double top, double width) {
    if (series.size() < 2) return 0;
    return key(out, series, top, width, [](std::size_t i, double x, double y) {
        return marker(static_cast<int>(i), x, y, 4, false);
    });
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

// Each call's label (its date) under as many calls as there is room for,
// counted from the newest, which is always named.
std::string call_ticks(const Axis& x, const std::vector<std::string>& labels, double base) {
    const std::size_t every = label_every(widest(labels), x.at(1) - x.at(0));
    std::string out;
    double next = INFINITY;  // where the label to the right begins
    for (std::size_t c = labels.size(); c-- > 0;) {
        if ((labels.size() - 1 - c) % every != 0) continue;
        const double half = text_width(labels[c]) / 2, px = x.at(static_cast<double>(c));
        const double centre = std::clamp(px, half + 1, std::max(half + 1, kWidth - half - 1));
        if (centre + half + 4 > next) continue;
        next = centre - half;
        out += line(px, kTop, px, base, "class=\"grid\"");
        out += text(centre, base + 14, "middle", labels[c]);
    }
    return out;
}

// How each kind of mark is drawn: a change dashed in vermillion, an
// outlier call as a ring in reddish purple, an acceptance broad and solid
// in bluish green; the key draws the same at (x, y).
const char* const kChangeStyle = "stroke=\"#D55E00\" stroke-width=\"1.5\" stroke-dasharray=\"4 3\"";
const char* const kAcceptedStyle = "stroke=\"#009E73\" stroke-width=\"4\" stroke-opacity=\"0.7\"";

std::string ring(double x, double y) {
    return "<circle cx=\"" + number_text(x, 1) + "\" cy=\"" + number_text(y, 1) +
           "\" r=\"6\" fill=\"none\" stroke=\"#CC79A7\" stroke-width=\"2\"/>";
}

std::string mark_swatch(MarkKind kind, double x, double y) {
    switch (kind) {
        case MarkKind::change: return line(x, y - 6, x, y + 6, kChangeStyle);
        case MarkKind::accepted: return line(x, y - 6, x, y + 6, kAcceptedStyle);
        default: return ring(x, y);
    }
}

// Each size at the top of the plot beside its mark, left of it at the right
// edge, a line lower where it would run into the size before it.
struct SizeLabels {
    std::array<double, 3> ends{-INFINITY, -INFINITY, -INFINITY};
    std::string add(double px, const std::string& size) {
        const double wide = text_width(size);
        const bool before = px + 3 + wide > kWidth - 1;
        const double from = before ? px - 3 - wide : px + 3;
        std::size_t row = 0;
        while (row + 1 < ends.size() && from < ends[row] + 4) ++row;
        ends[row] = from + wide;
        return text(before ? px - 3 : px + 3, kTop + 10 + kLine * static_cast<double>(row), before ? "end" : "start",
                    size);
    }
};

// The marks, acceptances first so that a change at the same call is drawn over them.
std::string call_marks(const Axis& x, const Axis& y, const std::vector<double>& medians,
                       const std::vector<CallMark>& marks) {
    std::string out;
    SizeLabels sizes;
    for (const MarkKind kind : {MarkKind::accepted, MarkKind::change, MarkKind::outlier}) {
        for (const CallMark& m : marks) {
            if (m.kind != kind || m.first_call >= medians.size() || std::isnan(medians[m.first_call])) continue;
            const double at = static_cast<double>(m.first_call);
            const double px = x.at(kind == MarkKind::outlier ? at : at - 0.5);
            if (kind == MarkKind::outlier) {
                out += "<g><title>outlier call: " + escape_html(m.size) + "</title>" +
                       ring(px, y.at(medians[m.first_call])) + "</g>" + sizes.add(px + 4, m.size);
                continue;
            }
            out += line(px, kTop, px, kTop + kPlot, kind == MarkKind::change ? kChangeStyle : kAcceptedStyle);
            out += sizes.add(px, m.size);
        }
    }
    return out;
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
    const double width = width_for(series), base = kTop + kPlot;
    const Axis y = axis_over(low, high, base, kTop);
    const double left = left_of(y, "");
    const Axis x{0.5, most + 0.5, 1, left, width - kRight};
    std::string out = y_axis(y, left, width - kRight, "");
    // The runs' numbers, under as many as they have room for.
    const double wide = text_width(std::to_string(most)), spacing = x.at(2) - x.at(1);
    const auto every = static_cast<int>(label_every(wide, spacing));
    for (int run = 1; run <= most; ++run) {
        if (run % every != 0 && (run != 1 || (every - 1) * spacing < wide + 8)) continue;
        out += line(x.at(run), kTop, x.at(run), base, "class=\"grid\"");
        out += centred(x.at(run), base + 14, std::to_string(run), width);
    }
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
    out += centred((left + width - kRight) / 2, base + 28, "run, in order (hollow: warm-up; cross: flagged)", width);
    const double height = base + 34 + legend(out, series, base + 32, width);
    return begin(width, height, "score per run") + out + "</svg>";
}

std::string svg_spread(const std::vector<std::string>& series, const std::vector<SpreadPoint>& points) {
    const std::vector<int> counts = copy_counts(points);
    double low = INFINITY, high = -INFINITY;
    for (const SpreadPoint& p : points) {
        low = std::min(low, p.low);
        high = std::max(high, p.high);
    }
    const double width = width_for(series), base = kTop + kPlot;
    const Axis y = axis_over(low, high, base, kTop);
    const double left = left_of(y, ""), right = width - kRight;
    std::string out = y_axis(y, left, right, "");
    const double slot = (right - left) / static_cast<double>(std::max<std::size_t>(1, counts.size()));
    const double offset = slot * 0.6 / static_cast<double>(std::max<std::size_t>(1, series.size()));
    for (const SpreadPoint& p : points) {
        const double centre = category_x(counts, p.copies, left, right);
        const double px = centre + (p.series - (static_cast<double>(series.size()) - 1) / 2) * offset;
        const std::string stroke = std::string("stroke=\"") + colour_of(p.series) + "\"";
        out += "<g><title>" + escape_html(series[static_cast<std::size_t>(p.series)]) + ", " +
               std::to_string(p.copies) + (p.copies == 1 ? " copy" : " copies") + ": median " + number_text(p.median) +
               ", " + number_text(p.low) + " to " + number_text(p.high) + "</title>";
        out += line(px, y.at(p.low), px, y.at(p.high), stroke);
        out += line(px - 4, y.at(p.low), px + 4, y.at(p.low), stroke);
        out += line(px - 4, y.at(p.high), px + 4, y.at(p.high), stroke);
        out += marker(p.series, px, y.at(p.median), 4, false) + "</g>";
    }
    for (int copies : counts) {
        out += centred(category_x(counts, copies, left, right), base + 14, std::to_string(copies), width);
    }
    out += centred((left + right) / 2, base + 28, "copies (marker: median; bar: min to max)", width);
    const double height = base + 34 + legend(out, series, base + 32, width);
    return begin(width, height, "median and spread per copy count") + out + "</svg>";
}

std::string svg_scaling(const std::vector<std::string>& series, const std::vector<SpreadPoint>& points) {
    const std::vector<int> counts = copy_counts(points);
    double high = 0, most_efficient = 1.0;
    for (const SpreadPoint& p : points) {
        high = std::max(high, p.median);
        if (p.efficiency) most_efficient = std::max(most_efficient, *p.efficiency);
    }
    const double base = kTop + kPlot;
    const Axis rate = axis_over(0, high, base, kTop);
    const Axis efficiency = axis_over(0, most_efficient * 100, base, kTop);
    // Two plots side by side, the second's labels in the gap between them.
    const double left = left_of(rate, ""), gap = 28 + widest(tick_labels(efficiency, "%"));
    const double plot = std::max(170.0, (width_for(series) - kRight - left - gap) / 2);
    const double width = left + 2 * plot + gap + kRight;
    const double left_end = left + plot, right_start = left_end + gap, right_end = width - kRight;
    std::string out = y_axis(rate, left, left_end, "") + y_axis(efficiency, right_start, right_end, "%");
    out += line(right_start, efficiency.at(100), right_end, efficiency.at(100),
                "stroke=\"#000\" stroke-dasharray=\"4 3\"");
    for (std::size_t s = 0; s < series.size(); ++s) {
        const int id = static_cast<int>(s);
        std::string rate_path, efficiency_path;
        std::string marks;
        for (const SpreadPoint& p : points) {
            if (p.series != id) continue;
            const double x = category_x(counts, p.copies, left, left_end);
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
    for (int copies : counts) {
        out += centred(category_x(counts, copies, left, left_end), base + 14, std::to_string(copies), width);
        out += centred(category_x(counts, copies, right_start, right_end), base + 14, std::to_string(copies), width);
    }
    out += centred((left + left_end) / 2, base + 28, "copies: median rate score", width);
    out += centred((right_start + right_end) / 2, base + 28, "copies: scaling efficiency", width);
    const double height = base + 34 + legend(out, series, base + 32, width);
    return begin(width, height, "scaling over copy counts") + out + "</svg>";
}

std::string svg_rows(const std::string& axis, const std::vector<Row>& rows, std::optional<double> reference) {
    double low = reference.value_or(INFINITY), high = reference.value_or(-INFINITY);
    std::vector<std::string> labels, verdicts;
    for (const Row& r : rows) {
        low = std::min(low, r.low);
        high = std::max(high, r.high);
        labels.push_back(r.label);
        verdicts.push_back(r.verdict);
    }
    // Labels and verdicts as wide as the widest, up to a point; past it they wrap.
    const double label_width = room_for(labels, 200) + 12, verdict_room = room_for(verdicts, 150);
    const double verdict_width = verdict_room > 0 ? verdict_room + 12 : kRight;
    const double width = std::max(kWidth, label_width + 200 + verdict_width), top = 8;
    std::vector<double> middles;
    double bottom = top;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const std::size_t lines = std::max(lines_of(labels[i], label_width - 12).size(),
                                           lines_of(verdicts[i], verdict_room).size());
        const double height = std::max(20.0, kLine * static_cast<double>(lines) + 7);
        middles.push_back(bottom + height / 2);
        bottom += height;
    }
    const Axis x = axis_over(low, high, label_width, width - verdict_width);
    std::string out = x_axis(x, top, bottom, width);
    if (reference) {
        out += line(x.at(*reference), top, x.at(*reference), bottom, "stroke=\"#000\" stroke-dasharray=\"4 3\"");
    }
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Row& r = rows[i];
        const double y = middles[i];
        out += "<g><title>" + escape_html(r.label) + ": " + number_text(r.value, 3) + " (" + number_text(r.low, 3) +
               " to " + number_text(r.high, 3) + ")" + (r.verdict.empty() ? "" : ": " + escape_html(r.verdict)) +
               "</title>";
        out += text_lines(label_width - 6, y, "end", lines_of(r.label, label_width - 12));
        out += line(x.at(r.low), y, x.at(r.high), y,
                    std::string("stroke=\"") + colour_of(r.series) + "\" stroke-width=\"2\"");
        out += marker(r.series, x.at(r.value), y, 4, false);
        if (!r.verdict.empty()) {
            out += text_lines(width - verdict_width + 6, y, "start", lines_of(r.verdict, verdict_room));
        }
        out += "</g>";
    }
    out += centred((label_width + width - verdict_width) / 2, bottom + 28, axis, width);
    return begin(width, bottom + 34, axis) + out + "</svg>";
}

std::string svg_calls(const std::vector<std::vector<double>>& rounds, const std::vector<CallMark>& marks,
                      const std::vector<std::string>& labels) {
    double low = INFINITY, high = -INFINITY;
    for (const std::vector<double>& call : rounds) {
        for (double v : call) {
            low = std::min(low, v);
            high = std::max(high, v);
        }
    }
    const double base = kTop + kPlot;
    const Axis y = axis_over(low, high, base, kTop);
    const double left = left_of(y, "");
    const Axis x{-0.5, static_cast<double>(std::max<std::size_t>(1, rounds.size())) - 0.5, 1, left, kWidth - kRight};
    std::string out = y_axis(y, left, kWidth - kRight, "") + call_ticks(x, labels, base), path;
    std::vector<double> medians;
    for (std::size_t c = 0; c < rounds.size(); ++c) {
        const double px = x.at(static_cast<double>(c));
        std::vector<double> sorted = rounds[c];
        std::sort(sorted.begin(), sorted.end());
        for (double v : sorted) out += marker(0, px, y.at(v), 1.8, true);
        const std::size_t n = sorted.size();
        medians.push_back(n == 0   ? NAN
                          : n % 2 ? sorted[n / 2]
                                  : sorted[n / 2 - 1] + (sorted[n / 2] - sorted[n / 2 - 1]) / 2);
        if (n > 0) path += (path.empty() ? "M" : "L") + number_text(px, 1) + " " + number_text(y.at(medians[c]), 1);
    }
    if (!path.empty()) out += "<path d=\"" + path + "\" fill=\"none\" stroke=\"#000\" stroke-width=\"1.2\"/>";
    out += call_marks(x, y, medians, marks);
    out += centred((left + kWidth - kRight) / 2, base + 28, "calls in order, by the date each started", kWidth);
    // The key: what the points and the line are, and each kind of mark drawn.
    std::vector<std::string> names = {"a round", "each call's median"};
    std::vector<std::optional<MarkKind>> kinds = {std::nullopt, std::nullopt};
    const std::array<std::pair<MarkKind, const char*>, 3> named = {{{MarkKind::change, "change point"},
                                                                    {MarkKind::outlier, "outlier call"},
                                                                    {MarkKind::accepted, "accepted change"}}};
    for (const auto& entry : named) {
        const MarkKind kind = entry.first;  // a plain name: Clang 14 captures no structured binding
        if (std::none_of(marks.begin(), marks.end(), [&](const CallMark& m) { return m.kind == kind; })) continue;
        names.emplace_back(entry.second);
        kinds.emplace_back(kind);
    }
    const double height = base + 34 + key(out, names, base + 32, kWidth, [&](std::size_t i, double kx, double ky) {
        if (kinds[i]) return mark_swatch(*kinds[i], kx, ky);
        if (i == 0) return marker(0, kx, ky, 1.8, true);
        return line(kx - 6, ky, kx + 6, ky, "stroke=\"#000\" stroke-width=\"1.2\"");
    });
    return begin(kWidth, height, "rate score per call") + out + "</svg>";
}

std::string date_text(long day) {
    // Civil from days (proleptic Gregorian), after H. Hinnant's algorithm.
    const long z = day + 719468, era = (z >= 0 ? z : z - 146096) / 146097;
    const long doe = z - era * 146097, yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long doy = doe - (365 * yoe + yoe / 4 - yoe / 100), mp = (5 * doy + 2) / 153;
    const long d = doy - (153 * mp + 2) / 5 + 1, m = mp < 10 ? mp + 3 : mp - 9, y = yoe + era * 400 + (m <= 2 ? 1 : 0);
    char out[64];
    std::snprintf(out, sizeof out, "%04ld-%02ld-%02ld", y, m, d);
    return out;
}

namespace {

// A date under every so many days of a time axis, as many as there is room for.
std::string date_ticks(const Axis& x, double base, double width) {
    const double wide = text_width("2026-11-03") + 8, per_day = (x.to - x.from) / (x.high - x.low);
    long every = 1;
    for (const long days : {1L, 2L, 7L, 14L, 28L, 56L, 91L, 182L, 364L, 728L, 1820L, 3640L}) {
        every = days;
        if (static_cast<double>(days) * per_day >= wide) break;
    }
    std::string out;
    for (auto day = static_cast<long>(std::ceil(x.low / static_cast<double>(every))) * every;
         static_cast<double>(day) <= x.high; day += every) {
        const double px = x.at(static_cast<double>(day));
        out += line(px, kTop, px, base, "class=\"grid\"") + centred(px, base + 14, date_text(day), width);
    }
    return out;
}

}  // namespace

std::string svg_timeline(const std::vector<std::string>& series, const std::vector<TimePoint>& points) {
    double low = INFINITY, high = -INFINITY, first = INFINITY, last = -INFINITY;
    for (const TimePoint& p : points) {
        low = std::min(low, p.value);
        high = std::max(high, p.value);
        first = std::min(first, p.day);
        last = std::max(last, p.day);
    }
    if (!(first <= last)) first = last = 0;
    const double width = width_for(series), base = kTop + kPlot;
    const Axis y = axis_over(low, high, base, kTop);
    const double left = left_of(y, "");
    const double pad = std::max(0.5, (last - first) / 40);
    const Axis x{first - pad, last + pad, 1, left + 8, width - kRight - 8};
    std::string out = y_axis(y, left, width - kRight, "");
    out += date_ticks(x, base, width);
    // Where the points are many (a fleet's kind), only each series' newest
    // carries its marker: the page stays small, and each line's end still
    // tells which series it is.
    std::vector<std::string> paths(series.size());
    std::vector<std::string> newest(series.size());
    std::string markers;
    const bool mark_all = points.size() <= kMarkedPoints;
    for (const TimePoint& p : points) {
        const double px = x.at(p.day), py = y.at(p.value);
        const auto i = static_cast<std::size_t>(p.series);
        paths.at(i) += (paths[i].empty() ? "M" : "L") + number_text(px, 1) + " " + number_text(py, 1);
        std::string mark = marker(p.series, px, py, 2.5, false);
        if (mark_all) {
            markers += mark;
        } else {
            newest[i] = std::move(mark);  // the points come in time order
        }
    }
    for (const std::string& m : newest) markers += m;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (paths[i].empty()) continue;
        out += "<path d=\"" + paths[i] + "\" fill=\"none\" stroke=\"" + colour_of(static_cast<int>(i)) +
               "\" stroke-width=\"1\"/>";
    }
    out += markers;
    out += centred((left + width - kRight) / 2, base + 28, "the date each call started (UTC)", width);
    const double height = base + 34 + legend(out, series, base + 32, width);
    return begin(width, height, "call medians over time") + out + "</svg>";
}

std::string svg_stacked(const std::string& axis, const std::vector<std::string>& parts,
                        const std::vector<StackedRow>& rows) {
    constexpr double bar = 16;
    double high = 0;
    std::vector<std::string> labels;
    for (const StackedRow& r : rows) {
        double sum = 0;
        for (double v : r.values) sum += v;
        high = std::max(high, sum);
        labels.push_back(r.label);
    }
    const double label_width = room_for(labels, 200) + 12;
    const double width = std::max({kWidth, label_width + 200 + kRight, width_for(parts)}), top = 8;
    std::vector<double> tops;
    double bottom = top;
    for (const std::string& label : labels) {
        const double height = std::max(24.0, kLine * static_cast<double>(lines_of(label, label_width - 12).size()) + 8);
        tops.push_back(bottom + (height - bar) / 2);
        bottom += height;
    }
    const Axis x = axis_over(0, high, label_width, width - kRight);
    std::string out = x_axis(x, top, bottom, width);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const double y = tops[i];
        out += text_lines(label_width - 6, y + bar / 2, "end", lines_of(rows[i].label, label_width - 12));
        double from = 0;
        for (std::size_t p = 0; p < parts.size() && p < rows[i].values.size(); ++p) {
            const double to = from + rows[i].values[p];
            const double x0 = x.at(from), part_width = x.at(to) - x0;
            out += "<g><title>" + escape_html(rows[i].label + ", " + parts[p]) + ": " +
                   number_text(rows[i].values[p], 4) + "</title><rect x=\"" + number_text(x0, 1) + "\" y=\"" +
                   number_text(y, 1) + "\" width=\"" + number_text(part_width, 1) + "\" height=\"" +
                   number_text(bar, 1) + "\" fill=\"" + colour_of(static_cast<int>(p)) + "\" stroke=\"#fff\"/>";
            // Named where it fits, so that no part is told by its colour alone.
            if (part_width > text_width(parts[p]) + 6) {
                out += "<text x=\"" + number_text(x0 + part_width / 2, 1) + "\" y=\"" +
                       number_text(y + bar / 2 + 4, 1) + "\" text-anchor=\"middle\" fill=\"#fff\">" +
                       escape_html(parts[p]) + "</text>";
            }
            out += "</g>";
            from = to;
        }
    }
    out += centred((label_width + width - kRight) / 2, bottom + 28, axis, width);
    const double height = bottom + 34 + key(out, parts, bottom + 32, width, [](std::size_t p, double px, double py) {
        return "<rect x=\"" + number_text(px - 5, 1) + "\" y=\"" + number_text(py - 5, 1) +
               "\" width=\"10\" height=\"10\" fill=\"" + colour_of(static_cast<int>(p)) + "\"/>";
    });
    return begin(width, height, axis) + out + "</svg>";
}

}  // namespace ptrun
