#include "stats.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "figures.h"

namespace ptrun {

namespace {

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

const char* verdict_text(Verdict verdict) {
    switch (verdict) {
        case Verdict::faster:
            return "faster";
        case Verdict::slower:
            return "slower";
        case Verdict::no_difference:
            return "no difference shown";
        case Verdict::too_few:
            break;
    }
    return "too few runs to decide";
}

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
    c.estimate = median_of(ratios);

    if (!c.decidable) {
        c.verdict = Verdict::too_few;
    } else if (c.p_value <= alpha) {
        c.verdict = observed > mean ? Verdict::faster : Verdict::slower;
    } else {
        c.verdict = Verdict::no_difference;
    }
    return c;
}

}  // namespace ptrun
