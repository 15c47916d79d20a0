// Bencher's metric format: a JSON object of benchmarks, each of measures
// with a value and its bounds, for a continuous-benchmarking service's upload.
#include <nlohmann/json.hpp>

#include <string>

#include "decide/compare.h"
#include "model/document.h"

namespace ptrun {

namespace {

using Json = nlohmann::ordered_json;

Json measure(double value, double low, double high) {
    return {{"value", value}, {"lower_value", low}, {"upper_value", high}};
}

std::string text_of(const Json& json) { return json.dump(2, ' ', false, Json::error_handler_t::replace) + "\n"; }

// B against A: the estimate within the interval the test inverts, and the
// slowdown (a fraction) the rounds could have seen.
Json ratio_measures(const SampleComparison& c) {
    Json measures = {{"ratio", measure(c.estimate, c.ratio_low, c.ratio_high)}};
    if (c.detectable_slowdown) measures["detectable-slowdown"] = {{"value", *c.detectable_slowdown}};
    return measures;
}

std::string entry_benchmark(const ComparisonEntry& e) {
    const std::string b = e.b_host == e.host ? e.b : e.b_host + " " + e.b;
    return "pt " + b + " against " + (e.b_host == e.host ? e.a : e.host + " " + e.a) + ", " + copies_text(e.copies) +
           (e.call_id.empty() ? "" : " (call " + e.call_id + ")");
}

}  // namespace

// A benchmark per host, build and copy count: its throughput, the median rate
// score between the lowest and the highest round; then the document's own
// comparisons.
std::string report_bencher(const Document& doc) {
    Json out = Json::object();
    for (const SummaryFigure& s : doc.summary) {
        out["pt " + s.host + " " + s.build + ", " + copies_text(s.copies)] = {
            {"throughput", measure(s.median, s.min, s.max)}};
    }
    for (const ComparisonEntry& e : doc.comparisons) out[entry_benchmark(e)] = ratio_measures(e.figures);
    return text_of(out);
}

// A benchmark per comparison entry.
std::string comparison_bencher(const Comparison& comparison) {
    Json out = Json::object();
    for (const ComparisonEntry& e : comparison.entries) out[entry_benchmark(e)] = ratio_measures(e.figures);
    return text_of(out);
}

}  // namespace ptrun
