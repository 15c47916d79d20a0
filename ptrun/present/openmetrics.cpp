// OpenMetrics (the Prometheus text format): the figures as gauges for a
// dashboard, one sample per series and figure, labelled by host, build and
// copy count; for a node exporter's textfile collector or a push.
#include <charconv>
#include <map>
#include <string>
#include <vector>

#include "decide/compare.h"
#include "model/document.h"
#include "present/text.h"

namespace ptrun {

namespace {

using Labels = std::vector<std::pair<std::string, std::string>>;

// A label's value: a backslash, a double quote and a line break escaped,
// which is all the format asks; no other control character is let through.
std::string label_value(const std::string& text) {
    std::string out;
    for (const char c : visible(text, true)) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '"') {
            out += "\\\"";
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out;
}

// The shortest text that reads back as the same double, whatever the locale.
std::string number(double value) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return {text, end};
}

// The samples of each family, written family by family in the order first
// named, each with its help and type once.
class Families {
public:
    void add(const std::string& name, const std::string& help, const Labels& labels, double value) {
        if (!samples_.contains(name)) order_.emplace_back(name, help);
        std::string line = name + "{";
        for (std::size_t i = 0; i < labels.size(); ++i) {
            line += (i == 0 ? "" : ",") + labels[i].first + "=\"" + label_value(labels[i].second) + "\"";
        }
        samples_[name] += line + "} " + number(value) + "\n";
    }
    std::string text() const {
        std::string out;
        for (const auto& [name, help] : order_) {
            out += "# TYPE " + name + " gauge\n# HELP " + name + " " + help + "\n" + samples_.at(name);
        }
        return out + "# EOF\n";
    }

private:
    std::vector<std::pair<std::string, std::string>> order_;
    std::map<std::string, std::string> samples_;
};

Labels series(const std::string& host, const std::string& build, int copies) {
    return {{"host", host}, {"build", build}, {"copies", std::to_string(copies)}};
}

// B against A: the estimate with the interval that inverts the test (its
// coverage alongside), p, and the slowdown the rounds could have seen.
void ratios(Families& f, const ComparisonEntry& e, Labels labels) {
    const SampleComparison& c = e.figures;
    if (!e.call_id.empty()) labels.insert(labels.begin(), {"call", e.call_id});
    f.add("pt_ratio", "B's rate score over A's: the Hodges-Lehmann estimate of the test used", labels, c.estimate);
    f.add("pt_ratio_low", "the lower bound of the ratio's interval (the test's, inverted)", labels, c.ratio_low);
    f.add("pt_ratio_high", "the upper bound of the ratio's interval (the test's, inverted)", labels, c.ratio_high);
    f.add("pt_ratio_coverage", "the coverage the interval has, a fraction", labels, c.confidence);
    f.add("pt_p_value", "the two-sided test's p: signed-rank where pt_pairs is above 0, else rank-sum", labels,
          c.p_value);
    f.add("pt_pairs", "the pairs of interleaved rounds the signed-rank test took; 0: the rank-sum test", labels,
          static_cast<double>(c.pairs));
    f.add("pt_slower", "1 where the test shows B slower than A, else 0", labels, c.verdict == Verdict::slower);
    f.add("pt_faster", "1 where the test shows B faster than A, else 0", labels, c.verdict == Verdict::faster);
    if (c.detectable_slowdown) {
        f.add("pt_detectable_slowdown",
              "the smallest slowdown, a fraction, these rounds would have shown in 80 % of calls", labels,
              *c.detectable_slowdown);
    }
}

}  // namespace

// Per host, build and copy count: the median rate score with the lowest and
// highest round as its bounds, and the rounds; then each comparison the
// document makes.
std::string report_openmetrics(const Document& doc) {
    Families f;
    for (const SummaryFigure& s : doc.summary) {
        const Labels labels = series(s.host, s.build, s.copies);
        f.add("pt_rate_score_median", "the median rate score of the rounds, work units per second", labels, s.median);
        f.add("pt_rate_score_min", "the lowest round's rate score, work units per second", labels, s.min);
        f.add("pt_rate_score_max", "the highest round's rate score, work units per second", labels, s.max);
        f.add("pt_rounds", "the rounds outside warm-up", labels, static_cast<double>(s.rounds));
        f.add("pt_flagged_runs", "the runs outside warm-up that were flagged", labels, s.flagged);
    }
    for (const CallRecord& call : doc.calls) {
        if (call.outcome != kNoResults) continue;
        const std::string why = std::string(kNoResults) + " (" + call.no_results_reason.value_or("") + ")";
        f.add("pt_produced_nothing", "1 for a host whose call produced no results, with why",
              {{"host", call.host}, {"why", why}}, 1);
    }
    for (const ComparisonEntry& e : doc.comparisons) {
        ratios(f, e, {{"host", e.b_host}, {"build", e.b}, {"against_host", e.host}, {"against", e.a},
                      {"copies", std::to_string(e.copies)}});
    }
    return f.text();
}

// Each side's median and rounds, labelled by side as well (two files may
// call both builds A), then B against A.
std::string comparison_openmetrics(const Comparison& comparison) {
    Families f;
    for (const ComparisonEntry& e : comparison.entries) {
        const SampleComparison& c = e.figures;
        for (const auto& [side, host, build, median, rounds] :
             {std::tuple{"A", e.host, e.a, c.median_a, c.n_a}, std::tuple{"B", e.b_host, e.b, c.median_b, c.n_b}}) {
            Labels labels = series(host, build, e.copies);
            labels.insert(labels.begin(), {"side", side});
            f.add("pt_rate_score_median", "the median rate score of the rounds, work units per second", labels,
                  median);
            f.add("pt_rounds", "the rounds compared", labels, static_cast<double>(rounds));
        }
        ratios(f, e, {{"host", e.b_host}, {"build", e.b}, {"against_host", e.host}, {"against", e.a},
                      {"copies", std::to_string(e.copies)}});
    }
    if (comparison.gate_rule) {
        f.add("pt_gate_failed", "1 where the gate failed, else 0", {}, comparison.gate.result == Gate::fail);
        f.add("pt_gate_undecided", "1 where the gate could not decide, else 0", {},
              comparison.gate.result == Gate::undecided);
    }
    return f.text();
}

}  // namespace ptrun
