#include "stats.h"

#include <algorithm>
#include <cmath>
#include <set>
#include <stdexcept>

#include "figures.h"

namespace ptrun {

namespace {

using Json = nlohmann::ordered_json;

// How many ways n_pick of the values take each total of their doubled ranks
// (doubled so that midranks stay whole): index = total.
std::vector<double> rank_sum_counts(const std::vector<long long>& doubled_ranks, std::size_t n_pick) {
    long long total = 0;
    for (long long r : doubled_ranks) total += r;
    const std::size_t width = static_cast<std::size_t>(total) + 1;
    std::vector<double> ways((n_pick + 1) * width, 0.0);
    ways[0] = 1;
    std::size_t seen = 0;
    for (long long r : doubled_ranks) {
        ++seen;
        const std::size_t rank = static_cast<std::size_t>(r);
        for (std::size_t k = std::min(seen, n_pick); k >= 1; --k) {
            double* row = &ways[k * width];
            const double* below = &ways[(k - 1) * width];
            for (std::size_t s = width - 1; s >= rank; --s) row[s] += below[s - rank];
        }
    }
    return {ways.begin() + static_cast<std::ptrdiff_t>(n_pick * width), ways.end()};
}

double normal_upper_tail(double z) { return 0.5 * std::erfc(z / std::sqrt(2.0)); }

void check_sample(const std::vector<double>& values, const char* name) {
    if (values.empty()) throw std::invalid_argument(std::string("no scores for ") + name);
    for (double v : values) {
        if (!std::isfinite(v) || v <= 0) {
            throw std::invalid_argument(std::string("a score of ") + name + " that is not a number above 0");
        }
    }
}

// P(U <= u) for the Mann-Whitney U of b without ties.
class UDistribution {
public:
    UDistribution(std::size_t n_a, std::size_t n_b) : n_a_(n_a), n_b_(n_b) {
        if (n_a + n_b > kExactPooled) return;
        std::vector<long long> ranks;
        for (std::size_t i = 1; i <= n_a + n_b; ++i) ranks.push_back(2 * static_cast<long long>(i));
        const std::vector<double> ways = rank_sum_counts(ranks, n_b);
        // 2W = 2U + n_b (n_b + 1): cumulate by U.
        const std::size_t offset = n_b * (n_b + 1);
        double total = 0;
        for (double w : ways) total += w;
        double running = 0;
        for (std::size_t u = 0; u <= n_a * n_b; ++u) {
            running += ways[offset + 2 * u];
            cumulative_.push_back(running / total);
        }
    }
    double at_most(std::size_t u) const {
        if (!cumulative_.empty()) return cumulative_[u];
        const double m = static_cast<double>(n_a_ * n_b_);
        const double sd = std::sqrt(m * static_cast<double>(n_a_ + n_b_ + 1) / 12.0);
        return normal_upper_tail((m / 2 - (static_cast<double>(u) + 0.5)) / sd);
    }

private:
    std::size_t n_a_, n_b_;
    std::vector<double> cumulative_;
};

}  // namespace

SampleComparison compare_samples(const std::vector<double>& a, const std::vector<double>& b, double alpha) {
    check_sample(a, "A");
    check_sample(b, "B");
    SampleComparison c;
    c.n_a = a.size();
    c.n_b = b.size();
    c.median_a = median_of(a);
    c.median_b = median_of(b);
    c.ratio = c.median_b / c.median_a;
    const std::size_t n = c.n_a + c.n_b;

    // Midranks of the pooled values, doubled.
    std::vector<std::pair<double, bool>> pooled;  // value, from b
    for (double v : a) pooled.emplace_back(v, false);
    for (double v : b) pooled.emplace_back(v, true);
    std::sort(pooled.begin(), pooled.end());
    std::vector<long long> doubled(n);
    double ties = 0;  // sum of t^3 - t over the groups of equal values
    for (std::size_t i = 0; i < n;) {
        std::size_t j = i;
        while (j < n && pooled[j].first == pooled[i].first) ++j;
        for (std::size_t k = i; k < j; ++k) doubled[k] = static_cast<long long>(i + j + 1);
        const double t = static_cast<double>(j - i);
        ties += t * t * t - t;
        i = j;
    }
    long long observed = 0;
    for (std::size_t i = 0; i < n; ++i) observed += pooled[i].second ? doubled[i] : 0;
    const long long mean = static_cast<long long>(c.n_b * (n + 1));  // doubled

    if (n <= kExactPooled) {
        const std::vector<double> ways = rank_sum_counts(doubled, c.n_b);
        const long long distance = std::llabs(observed - mean);
        double extreme = 0, total = 0;
        for (std::size_t s = 0; s < ways.size(); ++s) {
            total += ways[s];
            if (std::llabs(static_cast<long long>(s) - mean) >= distance) extreme += ways[s];
        }
        c.p_value = std::min(1.0, extreme / total);
    } else {
        const double nd = static_cast<double>(n);
        const double variance = static_cast<double>(c.n_a * c.n_b) / 12.0 * (nd + 1 - ties / (nd * (nd - 1)));
        const double distance = std::max(0.0, std::fabs(static_cast<double>(observed - mean) / 2) - 0.5);
        c.p_value = variance > 0 ? std::min(1.0, 2 * normal_upper_tail(distance / std::sqrt(variance))) : 1.0;
    }
    // The most extreme outcome, all of b above all of a, has p = 2 / C(n, n_b).
    const double log_choose = std::lgamma(static_cast<double>(n) + 1) - std::lgamma(static_cast<double>(c.n_a) + 1) -
                              std::lgamma(static_cast<double>(c.n_b) + 1);
    c.decidable = std::log(2.0) - log_choose <= std::log(alpha);

    std::vector<double> ratios;
    ratios.reserve(c.n_a * c.n_b);
    for (double x : a) {
        for (double y : b) ratios.push_back(y / x);
    }
    std::sort(ratios.begin(), ratios.end());
    const UDistribution u(c.n_a, c.n_b);
    std::size_t k = 1;
    while (k + 1 <= ratios.size() / 2 && 2 * u.at_most(k) <= alpha) ++k;
    c.ratio_low = ratios[k - 1];
    c.ratio_high = ratios[ratios.size() - k];
    c.confidence = 1 - 2 * u.at_most(k - 1);

    if (!c.decidable) {
        c.verdict = "too few runs to decide";
    } else if (c.p_value <= alpha) {
        c.verdict = observed > mean ? "faster" : "slower";
    } else {
        c.verdict = "no difference shown";
    }
    return c;
}

namespace {

std::string text_of(const Json& object, const char* key) {
    if (!object.is_object() || !object.contains(key) || !object[key].is_string()) return "";
    return object[key].get<std::string>();
}

// The governors of the pinned processors where recorded, else the one a
// schema 1 file gave for the machine.
std::string governor_of(const Json& machine) {
    if (machine.is_object() && machine.contains("environment") && machine["environment"].is_object()) {
        const Json& environment = machine["environment"];
        if (environment.contains("cpus") && environment["cpus"].is_array()) {
            std::set<std::string> seen;
            std::string governors;
            for (const Json& cpu : environment["cpus"]) {
                const std::string governor = text_of(cpu, "governor");
                if (governor.empty() || !seen.insert(governor).second) continue;
                governors += (governors.empty() ? "" : ",") + governor;
            }
            if (!governors.empty()) return governors;
        }
    }
    return text_of(machine, "governor");
}

std::string environment_text(const Json& machine, const char* key) {
    if (!machine.is_object() || !machine.contains("environment")) return "";
    return text_of(machine["environment"], key);
}

}  // namespace

std::vector<Difference> differences(const Json& build_a, const Json& machine_a, const Json& build_b,
                                    const Json& machine_b) {
    const std::vector<std::pair<std::string, std::pair<std::string, std::string>>> fields = {
        {"build line", {text_of(build_a, "build"), text_of(build_b, "build")}},
        {"binary sha256", {text_of(build_a, "sha256"), text_of(build_b, "sha256")}},
        {"processor", {text_of(machine_a, "processor"), text_of(machine_b, "processor")}},
        {"governor", {governor_of(machine_a), governor_of(machine_b)}},
        {"SMT", {environment_text(machine_a, "smt"), environment_text(machine_b, "smt")}},
        {"microcode", {environment_text(machine_a, "microcode"), environment_text(machine_b, "microcode")}},
        {"kernel", {text_of(machine_a, "kernel"), text_of(machine_b, "kernel")}},
    };
    std::vector<Difference> found;
    for (const auto& [what, values] : fields) {
        const auto& [a, b] = values;
        if (a == b) continue;
        found.push_back({what, a.empty() ? "unknown" : a, b.empty() ? "unknown" : b});
    }
    return found;
}

namespace {

// The entry of id in a document's list, else the fallback object.
const Json& entry_of(const Json& doc, const char* list, const std::string& id, const char* fallback) {
    static const Json none = Json::object();
    if (doc.contains(list) && doc[list].is_array()) {
        for (const Json& entry : doc[list]) {
            if (text_of(entry, "id") == id) return entry;
        }
    }
    return doc.contains(fallback) ? doc[fallback] : none;
}

const Json& machine_of(const Json& doc, const std::string& host) {
    const Json& entry = entry_of(doc, "hosts", host, "machine");
    return entry.contains("machine") ? entry["machine"] : entry;
}

// The rate scores outside warm-up by copy count, in the order first seen.
std::vector<std::pair<int, std::vector<double>>> rates_of(const Json& doc, const std::string& host,
                                                           const std::string& build) {
    std::vector<std::pair<int, std::vector<double>>> rates;
    if (!doc.contains("rounds") || !doc["rounds"].is_array()) return rates;
    for (const Json& round : doc["rounds"]) {
        if (text_of(round, "host") != host || text_of(round, "build") != build || round.value("warmup", false) ||
            !round.contains("rate_score") || !round["rate_score"].is_number() || !round["copies"].is_number()) {
            continue;
        }
        const int copies = round["copies"].get<int>();
        auto it = std::find_if(rates.begin(), rates.end(), [copies](const auto& r) { return r.first == copies; });
        if (it == rates.end()) {
            rates.emplace_back(copies, std::vector<double>{});
            it = rates.end() - 1;
        }
        it->second.push_back(round["rate_score"].get<double>());
    }
    return rates;
}

}  // namespace

Json comparison_entries(const Json& doc_a, const std::string& host_a, const std::string& build_a, const Json& doc_b,
                        const std::string& host_b, const std::string& build_b, double alpha) {
    Json found = Json::array();
    for (const Difference& d : differences(entry_of(doc_a, "builds", build_a, "pt"), machine_of(doc_a, host_a),
                                           entry_of(doc_b, "builds", build_b, "pt"), machine_of(doc_b, host_b))) {
        found.push_back({{"what", d.what}, {"a", d.a}, {"b", d.b}});
    }
    const auto rates_b = rates_of(doc_b, host_b, build_b);
    Json entries = Json::array();
    for (const auto& [copies, a] : rates_of(doc_a, host_a, build_a)) {
        const int wanted = copies;
        const auto b =
            std::find_if(rates_b.begin(), rates_b.end(), [wanted](const auto& r) { return r.first == wanted; });
        if (b == rates_b.end()) continue;
        SampleComparison c;
        try {
            c = compare_samples(a, b->second, alpha);
        } catch (const std::invalid_argument&) {
            continue;  // a score of 0 or below is no score to compare
        }
        entries.push_back({{"copies", copies}, {"a", build_a}, {"b", build_b}, {"n_a", c.n_a}, {"n_b", c.n_b},
                           {"median_a", c.median_a}, {"median_b", c.median_b}, {"ratio", c.ratio},
                           {"ratio_low", c.ratio_low}, {"ratio_high", c.ratio_high}, {"confidence", c.confidence},
                           {"p_value", c.p_value}, {"decidable", c.decidable}, {"verdict", c.verdict},
                           {"differences", found}});
    }
    return entries;
}

}  // namespace ptrun
