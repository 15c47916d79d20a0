#include "decide/stats.h"

#include "decide/rounds.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <stdexcept>

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
    double at_most(std::uint64_t u) const {
        if (!cumulative_.empty()) return cumulative_[static_cast<std::size_t>(u)];
        const double m = static_cast<double>(n_a_) * static_cast<double>(n_b_);
        const double sd = std::sqrt(m * static_cast<double>(n_a_ + n_b_ + 1) / 12.0);
        return normal_upper_tail((m / 2 - (static_cast<double>(u) + 0.5)) / sd);
    }

private:
    std::size_t n_a_, n_b_;
    std::vector<double> cumulative_;
};

// How many ways a subset of the doubled ranks takes each total: index = total.
std::vector<double> subset_sum_counts(const std::vector<long long>& doubled_ranks) {
    long long total = 0;
    for (long long r : doubled_ranks) total += r;
    std::vector<double> ways(static_cast<std::size_t>(total) + 1, 0.0);
    ways[0] = 1;
    long long reached = 0;
    for (long long r : doubled_ranks) {
        reached += r;
        const auto rank = static_cast<std::size_t>(r);
        for (auto s = static_cast<std::size_t>(reached); s >= rank; --s) ways[s] += ways[s - rank];
    }
    return ways;
}

// P(T <= t) for the signed-rank sum T of the positive differences among n
// pairs, without ties or zeros.
class TDistribution {
public:
    explicit TDistribution(std::size_t n) : n_(n) {
        if (n > kExactPairs) return;
        std::vector<long long> ranks;
        for (std::size_t i = 1; i <= n; ++i) ranks.push_back(2 * static_cast<long long>(i));
        const std::vector<double> ways = subset_sum_counts(ranks);
        const double all = std::ldexp(1.0, static_cast<int>(n));
        double running = 0;
        for (std::size_t t = 0; t <= n * (n + 1) / 2; ++t) {
            running += ways[2 * t];
            cumulative_.push_back(running / all);
        }
    }
    double at_most(std::uint64_t t) const {
        if (!cumulative_.empty()) return cumulative_[static_cast<std::size_t>(t)];
        const double n = static_cast<double>(n_);
        const double sd = std::sqrt(n * (n + 1) * (2 * n + 1) / 24.0);
        return normal_upper_tail((n * (n + 1) / 4 - (static_cast<double>(t) + 0.5)) / sd);
    }

private:
    std::size_t n_;
    std::vector<double> cumulative_;
};

// The order k of the interval's bounds (k-th smallest and k-th largest pair
// ratio): the first k from 1 up whose tail 2 P(U <= k) exceeds alpha, at most
// mn / 2. The tail grows with k, so bisection finds it in O(log mn) steps
// where walking k up would take O(mn) at 10,000 rounds a side.
template <typename Distribution>
std::uint64_t interval_order(const Distribution& u, std::uint64_t pairs, double alpha) {
    std::uint64_t low = 1, high = std::max<std::uint64_t>(1, pairs / 2);
    while (low < high) {
        const std::uint64_t mid = low + (high - low) / 2;
        if (2 * u.at_most(mid) > alpha) {
            high = mid;
        } else {
            low = mid + 1;
        }
    }
    return low;
}

// The differences y_j - x_i of all pairs of two ascending sequences, never
// held: they form a matrix sorted along both axes. How many are at most t is
// counted in O(m + n) by walking its staircase (for a larger y_j the x_i it
// exceeds by at most t start no earlier). The k-th smallest is the least
// double t with count(t) >= k, narrowed by bisection of a bracket: halving
// its values (scores' log-ratios cluster, so a step drops about half the
// pairs in it) and, past 64 such steps, halving its bit patterns (doubles
// order as their sign-adjusted bits do), so at most 128 counts are ever made.
// Once no more than m + n pairs lie in the bracket they are collected and the
// k-th picked among them. Time O((m + n) log(m + n)) to sort and O(m + n) per
// count, about log2(mn / (m + n)) counts per order statistic; memory O(m + n).
//
// The same matrix gives the Walsh averages of d (sorted): with x = -d / 2
// reversed and y = d / 2, the pair (i, j) is (d_p + d_j) / 2 for p = n - 1 - i,
// each average but the diagonal's twice; `half` keeps the pairs with p <= j,
// whose count is half the matrix's and half its diagonal's.
class PairDifferences {
public:
    // The log-ratios log b_j - log a_i of all pairs.
    static PairDifferences log_ratios(const std::vector<double>& a, const std::vector<double>& b) {
        return PairDifferences(sorted_logs(a), sorted_logs(b), false);
    }
    // The Walsh averages of values.
    static PairDifferences walsh_averages(const std::vector<double>& values) {
        std::vector<double> y(values.size());
        std::transform(values.begin(), values.end(), y.begin(), [](double v) { return v / 2; });
        std::sort(y.begin(), y.end());
        std::vector<double> x(y.rbegin(), y.rend());
        for (double& v : x) v = -v;
        return PairDifferences(std::move(x), std::move(y), true);
    }

    std::uint64_t pairs() const {
        const std::uint64_t n = y_.size();
        return half_ ? n * (n + 1) / 2 : std::uint64_t{x_.size()} * n;
    }

    // The k-th smallest, k from 1 to pairs().
    double kth(std::uint64_t k) const {
        std::uint64_t low = key(y_.front() - x_.back()), high = key(y_.back() - x_.front());
        // Pairs at most value(low - 1), and at most value(high): k lies between.
        std::uint64_t below = 0, through = pairs();
        const std::uint64_t few = x_.size() + y_.size();
        for (int step = 0; low < high && through - below > few; ++step) {
            // Halving the values narrows a bracket of scores' log-ratios far
            // sooner than halving the keys, which spends its first steps on
            // the exponent; the keys' halving bounds the steps in any case.
            std::uint64_t mid = low + (high - low) / 2;
            const std::uint64_t halfway = key(value(low) + (value(high) - value(low)) / 2);
            if (step < 64 && halfway >= low && halfway < high) mid = halfway;
            const std::uint64_t count = count_at_most(value(mid));
            if (count >= k) {
                high = mid;
                through = count;
            } else {
                low = mid + 1;
                below = count;
            }
        }
        if (low == high) return value(low);
        std::vector<double> between = pairs_between(value(low - 1), value(high));
        const auto at = between.begin() + static_cast<std::ptrdiff_t>(k - below - 1);
        std::nth_element(between.begin(), at, between.end());
        return *at;
    }

    double median() const {
        const std::uint64_t n = pairs();
        return n % 2 == 1 ? kth(n / 2 + 1) : (kth(n / 2) + kth(n / 2 + 1)) / 2;
    }

private:
    PairDifferences(std::vector<double> x, std::vector<double> y, bool half)
        : x_(std::move(x)), y_(std::move(y)), half_(half) {}

    static std::vector<double> sorted_logs(const std::vector<double>& values) {
        std::vector<double> logs(values.size());
        std::transform(values.begin(), values.end(), logs.begin(), [](double v) { return std::log(v); });
        std::sort(logs.begin(), logs.end());
        return logs;
    }
    // Keys in the order of the values, one per value: -0.0 shares 0.0's key,
    // or a bracket's "one key below" would be a value equal to its own.
    static constexpr std::uint64_t kSign = std::uint64_t{1} << 63;
    static std::uint64_t key(double x) {
        const auto bits = std::bit_cast<std::uint64_t>(x);
        return (bits & kSign) != 0 ? ~bits + 1 : bits | kSign;
    }
    static double value(std::uint64_t key) {
        return std::bit_cast<double>((key & kSign) != 0 ? key & ~kSign : ~(key - 1));
    }
    // The differences above above and at most through.
    std::vector<double> pairs_between(double above, double through) const {
        std::vector<double> found;
        std::size_t first = 0, last = 0;  // the first x_i at most through, the first at most above
        const std::size_t n = y_.size();
        for (std::size_t j = 0; j < n; ++j) {
            const double y = y_[j];
            while (first < x_.size() && y - x_[first] > through) ++first;
            while (last < x_.size() && y - x_[last] > above) ++last;
            // Half the matrix: i + j >= n - 1.
            const std::size_t from = half_ ? std::max(first, n - 1 - j) : first;
            for (std::size_t i = from; i < last; ++i) found.push_back(y - x_[i]);
        }
        return found;
    }
    std::uint64_t count_at_most(double t) const {
        std::uint64_t count = 0, diagonal = 0;
        std::size_t first = 0;  // the first x_i with y_j - x_i <= t
        for (double y : y_) {
            while (first < x_.size() && y - x_[first] > t) ++first;
            count += x_.size() - first;
            diagonal += half_ && y + y <= t ? 1 : 0;  // (d_j + d_j) / 2
        }
        return half_ ? (count + diagonal) / 2 : count;
    }

    std::vector<double> x_, y_;
    bool half_ = false;
};

// Whether the most extreme outcome, all of b above all of a, would be
// significant under the test that is used for these sizes: exact, p = 2 /
// C(n, n_b); normal, z of mn / 2 less the continuity half (ties, which only
// an actual outcome has, left out).
bool could_decide(std::size_t n_a, std::size_t n_b, double alpha) {
    const double n = static_cast<double>(n_a + n_b);
    if (n_a + n_b <= kExactPooled) {
        const double log_choose = std::lgamma(n + 1) - std::lgamma(static_cast<double>(n_a) + 1) -
                                  std::lgamma(static_cast<double>(n_b) + 1);
        return std::log(2.0) - log_choose <= std::log(alpha);
    }
    const double pairs = static_cast<double>(n_a) * static_cast<double>(n_b);
    return 2 * normal_upper_tail((pairs / 2 - 0.5) / std::sqrt(pairs * (n + 1) / 12.0)) <= alpha;
}

// Doubled midranks of n values in ascending order of their keys (equal keys
// share the mean of their ranks, doubled to stay whole), and the sum of
// t^3 - t over the groups of t equal keys, for the normal tie correction.
template <typename Key>
std::vector<long long> doubled_midranks(std::size_t n, Key key, double& ties) {
    std::vector<long long> doubled(n);
    ties = 0;
    for (std::size_t i = 0; i < n;) {
        std::size_t j = i;
        while (j < n && key(j) == key(i)) ++j;
        for (std::size_t k = i; k < j; ++k) doubled[k] = static_cast<long long>(i + j + 1);
        const double t = static_cast<double>(j - i);
        ties += t * t * t - t;
        i = j;
    }
    return doubled;
}

// The exact two-sided p of a total among the ways of reaching each total
// (index = total): the share of ways at least as far from the mean as the
// observed, both given doubled.
double exact_two_sided(const std::vector<double>& ways, long long twice_observed, long long twice_mean) {
    const long long distance = std::llabs(twice_observed - twice_mean);
    double extreme = 0, all = 0;
    for (std::size_t s = 0; s < ways.size(); ++s) {
        all += ways[s];
        if (std::llabs(2 * static_cast<long long>(s) - twice_mean) >= distance) extreme += ways[s];
    }
    return std::min(1.0, extreme / all);
}

// The two-sided p-value of b's doubled rank sum, and whether b ranks above
// its mean.
struct RankTest {
    double p_value = 1;
    int direction = 0;  // +1: b ranks high, -1: low
};

RankTest rank_test(const std::vector<double>& a, const std::vector<double>& b) {
    const std::size_t n = a.size() + b.size();
    // Midranks of the pooled values, doubled.
    std::vector<std::pair<double, bool>> pooled;  // value, from b
    pooled.reserve(n);
    for (double v : a) pooled.emplace_back(v, false);
    for (double v : b) pooled.emplace_back(v, true);
    std::sort(pooled.begin(), pooled.end());
    double ties = 0;
    const std::vector<long long> doubled =
        doubled_midranks(n, [&pooled](std::size_t i) { return pooled[i].first; }, ties);
    long long observed = 0;
    for (std::size_t i = 0; i < n; ++i) observed += pooled[i].second ? doubled[i] : 0;
    const long long mean = static_cast<long long>(b.size() * (n + 1));  // doubled
    RankTest test;
    test.direction = observed > mean ? 1 : observed < mean ? -1 : 0;
    if (n <= kExactPooled) {
        test.p_value = exact_two_sided(rank_sum_counts(doubled, b.size()), 2 * observed, 2 * mean);
    } else {
        const double nd = static_cast<double>(n);
        const double pairs = static_cast<double>(a.size()) * static_cast<double>(b.size());
        const double variance = pairs / 12.0 * (nd + 1 - ties / (nd * (nd - 1)));
        const double distance = std::max(0.0, std::fabs(static_cast<double>(observed - mean) / 2) - 0.5);
        test.p_value = variance > 0 ? std::min(1.0, 2 * normal_upper_tail(distance / std::sqrt(variance))) : 1.0;
    }
    return test;
}

// The two-sided p of the signed-rank test of these differences, and whether
// the positive ones rank above their mean.
RankTest signed_rank_test(const std::vector<double>& differences) {
    std::vector<double> sizes;
    for (double d : differences) {
        if (d != 0) sizes.push_back(d);
    }
    std::sort(sizes.begin(), sizes.end(), [](double x, double y) { return std::fabs(x) < std::fabs(y); });
    const std::size_t n = sizes.size();
    if (n == 0) return {};
    double ties = 0;
    const std::vector<long long> doubled =
        doubled_midranks(n, [&sizes](std::size_t i) { return std::fabs(sizes[i]); }, ties);
    long long positive = 0;  // doubled
    for (std::size_t i = 0; i < n; ++i) positive += sizes[i] > 0 ? doubled[i] : 0;
    const auto total = static_cast<long long>(n * (n + 1));  // doubled ranks' sum; the mean is half
    RankTest test;
    test.direction = 2 * positive > total ? 1 : 2 * positive < total ? -1 : 0;
    if (n <= kExactPairs) {
        test.p_value = exact_two_sided(subset_sum_counts(doubled), 2 * positive, total);
    } else {
        const double nd = static_cast<double>(n);
        const double variance = nd * (nd + 1) * (2 * nd + 1) / 24.0 - ties / 48.0;
        const double distance =
            std::max(0.0, std::fabs(static_cast<double>(positive) / 2 - static_cast<double>(total) / 4) - 0.5);
        test.p_value = variance > 0 ? std::min(1.0, 2 * normal_upper_tail(distance / std::sqrt(variance))) : 1.0;
    }
    return test;
}

// A decided verdict needs the test and the whole interval on one side of 1.
Verdict verdict_of(const SampleComparison& c, const RankTest& test, double alpha) {
    if (!c.decidable) return Verdict::too_few;
    if (c.p_value <= alpha && test.direction > 0 && c.ratio_low > 1) return Verdict::faster;
    if (c.p_value <= alpha && test.direction < 0 && c.ratio_high < 1) return Verdict::slower;
    return Verdict::no_difference;
}

// The largest statistic whose lower tail, doubled, is within alpha: nothing
// where even the smallest's is not.
template <typename Distribution>
std::optional<std::uint64_t> critical_of(const Distribution& distribution, std::uint64_t most, double alpha) {
    if (2 * distribution.at_most(0) > alpha) return std::nullopt;
    std::uint64_t low = 0, high = most;
    while (low < high) {
        const std::uint64_t mid = low + (high - low + 1) / 2;
        if (2 * distribution.at_most(mid) <= alpha) {
            low = mid;
        } else {
            high = mid - 1;
        }
    }
    return low;
}

}  // namespace

std::optional<std::uint64_t> rank_sum_critical(std::size_t n_a, std::size_t n_b, double alpha) {
    if (n_a == 0 || n_b == 0) return std::nullopt;
    return critical_of(UDistribution(n_a, n_b), std::uint64_t{n_a} * n_b / 2, alpha);
}

std::optional<std::uint64_t> signed_rank_critical(std::size_t n, double alpha) {
    if (n == 0) return std::nullopt;
    return critical_of(TDistribution(n), std::uint64_t{n} * (n + 1) / 4, alpha);
}

double kth_walsh_average(const std::vector<double>& values, std::uint64_t k) {
    return PairDifferences::walsh_averages(values).kth(k);
}

namespace {

// The sides' sizes, medians and their ratio, once both are checked.
SampleComparison sides_of(const std::vector<double>& a, const std::vector<double>& b) {
    check_sample(a, "A");
    check_sample(b, "B");
    SampleComparison c;
    c.n_a = a.size();
    c.n_b = b.size();
    c.median_a = median_of(a);
    c.median_b = median_of(b);
    c.ratio = std::exp(std::log(c.median_b) - std::log(c.median_a));
    return c;
}

// The interval the test inverts over its differences (of order k from either
// end, k from the test's distribution without ties), the coverage it has,
// and the estimate, their median; then the verdict.
template <typename Distribution>
void decide(SampleComparison& c, const RankTest& test, const PairDifferences& differences,
            const Distribution& distribution, double alpha) {
    c.p_value = test.p_value;
    const std::uint64_t k = interval_order(distribution, differences.pairs(), alpha);
    c.ratio_low = std::exp(differences.kth(k));
    c.ratio_high = std::exp(differences.kth(differences.pairs() + 1 - k));
    c.confidence = 1 - 2 * distribution.at_most(k - 1);
    c.estimate = std::clamp(std::exp(differences.median()), c.ratio_low, c.ratio_high);
    c.verdict = verdict_of(c, test, alpha);
}

}  // namespace

SampleComparison compare_samples(const std::vector<double>& a, const std::vector<double>& b, double alpha) {
    SampleComparison c = sides_of(a, b);
    c.decidable = could_decide(c.n_a, c.n_b, alpha);
    decide(c, rank_test(a, b), PairDifferences::log_ratios(a, b), UDistribution(c.n_a, c.n_b), alpha);
    return c;
}

SampleComparison compare_pairs(const std::vector<double>& a, const std::vector<double>& b, double alpha) {
    SampleComparison c = sides_of(a, b);
    if (a.size() != b.size()) throw std::invalid_argument("pairs of scores with sides of different sizes");
    c.pairs = a.size();
    c.decidable = signed_rank_critical(c.pairs, alpha).has_value();
    std::vector<double> differences(a.size());
    for (std::size_t i = 0; i < a.size(); ++i) differences[i] = std::log(b[i]) - std::log(a[i]);
    decide(c, signed_rank_test(differences), PairDifferences::walsh_averages(differences), TDistribution(c.pairs),
           alpha);
    return c;
}

double normal_upper_tail(double z) { return 0.5 * std::erfc(z / std::sqrt(2.0)); }

double normal_quantile_above(double p) {
    double low = -40, high = 40;
    for (int i = 0; i < 200 && high - low > 1e-12; ++i) {
        const double middle = (low + high) / 2;
        (normal_upper_tail(middle) > p ? low : high) = middle;
    }
    return (low + high) / 2;
}

}  // namespace ptrun
