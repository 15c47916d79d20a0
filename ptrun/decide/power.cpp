#include "decide/power.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>

#include "decide/rounds.h"
#include "decide/stats.h"

namespace ptrun {

namespace {

// Silverman's rule of thumb for a normal kernel over these sorted values.
double bandwidth_of(const std::vector<double>& sorted) {
    const double n = static_cast<double>(sorted.size());
    double mean = 0;
    for (double v : sorted) mean += v / n;
    double square = 0;
    for (double v : sorted) square += (v - mean) * (v - mean);
    const double sd = sorted.size() > 1 ? std::sqrt(square / (n - 1)) : 0;
    const auto at = [&sorted](double q) { return sorted[static_cast<std::size_t>(q * (sorted.size() - 1))]; };
    const double iqr = (at(0.75) - at(0.25)) / 1.34;
    return 0.9 * (iqr > 0 ? std::min(sd, iqr) : sd) * std::pow(n, -0.2);
}

// Draws from the spread, smoothed: its values at random plus a normal kernel.
// mt19937_64 and the transforms below are the same in every standard
// library, so a figure does not move between systems.
class SmoothedDraws {
public:
    explicit SmoothedDraws(const std::vector<double>& spread) : spread_(spread) {
        std::vector<double> sorted = spread;
        std::sort(sorted.begin(), sorted.end());
        bandwidth_ = bandwidth_of(sorted);
    }

    double next() {
        const std::uint64_t pick = engine_() % spread_.size();
        return spread_[pick] + bandwidth_ * normal();
    }

private:
    double uniform() { return (static_cast<double>(engine_() >> 11) + 0.5) * 0x1p-53; }
    double normal() {  // Box-Muller, one of the pair
        return std::sqrt(-2 * std::log(uniform())) * std::cos(2 * std::numbers::pi * uniform());
    }

    const std::vector<double>& spread_;
    double bandwidth_ = 0;
    std::mt19937_64 engine_{20261210};
};

// The draws a simulated figure rests on: enough that its own error is a few
// tenths of the figure's tenth.
constexpr int kDraws = 2000;

// The shift at which a share `power` of the draws' tests reject, from each
// draw's critical shift (none below 0).
double power_quantile(std::vector<double>& shifts, double power) {
    const auto at = shifts.begin() + static_cast<std::ptrdiff_t>(std::ceil(power * kDraws) - 1);
    std::nth_element(shifts.begin(), at, shifts.end());
    return std::max(0.0, *at);
}

// The shift in logs at which a share `power` of calls' exact tests reject:
// a draw rejects at shift s once no more than `critical` of its pairs have
// B's value above A's, that is at its (critical + 1)-th largest difference.
double simulated_shift(const std::vector<double>& spread, std::size_t n_a, std::size_t n_b, std::uint64_t critical,
                       double power) {
    SmoothedDraws draws(spread);
    std::vector<double> a(n_a), b(n_b), differences(n_a * n_b), shifts(kDraws);
    for (double& shift : shifts) {
        for (double& v : a) v = draws.next();
        for (double& v : b) v = draws.next();
        std::size_t k = 0;
        for (double x : a) {
            for (double y : b) differences[k++] = y - x;
        }
        const auto at = differences.end() - 1 - static_cast<std::ptrdiff_t>(critical);
        std::nth_element(differences.begin(), at, differences.end());
        shift = *at;
    }
    return power_quantile(shifts, power);
}

// The same for n pairs whose log-ratios spread as spread does: a draw
// rejects at shift s once the positive differences' signed-rank sum is at
// most `critical`, that is at its (critical + 1)-th largest Walsh average.
double simulated_paired_shift(const std::vector<double>& spread, std::size_t n, std::uint64_t critical,
                              double power) {
    SmoothedDraws draws(spread);
    std::vector<double> differences(n), shifts(kDraws);
    const std::uint64_t averages = std::uint64_t{n} * (n + 1) / 2;
    for (double& shift : shifts) {
        for (double& v : differences) v = draws.next();
        shift = kth_walsh_average(differences, averages - critical);
    }
    return power_quantile(shifts, power);
}

// The most values the density's square is worked out from: beyond, evenly
// spaced ones of the sorted spread stand for the rest.
constexpr std::size_t kMostForDensity = 4000;

// The integral of the squared density of the spread, by a normal kernel
// with Silverman's bandwidth, leaving each value's pair with itself out.
double squared_density(const std::vector<double>& spread) {
    std::vector<double> sorted = spread;
    std::sort(sorted.begin(), sorted.end());
    if (sorted.size() > kMostForDensity) {
        std::vector<double> fewer(kMostForDensity);
        for (std::size_t i = 0; i < kMostForDensity; ++i) fewer[i] = sorted[i * sorted.size() / kMostForDensity];
        sorted = std::move(fewer);
    }
    const double width = std::sqrt(2.0) * bandwidth_of(sorted);
    if (width <= 0 || sorted.size() < 2) return 0;
    double sum = 0;
    for (std::size_t i = 0; i < sorted.size(); ++i) {
        for (std::size_t j = i + 1; j < sorted.size() && sorted[j] - sorted[i] < 8 * width; ++j) {
            const double z = (sorted[j] - sorted[i]) / width;
            sum += std::exp(-z * z / 2);
        }
    }
    const double n = static_cast<double>(sorted.size());
    return 2 * sum / (n * (n - 1)) / (width * std::sqrt(2 * std::numbers::pi));
}

// The rank-sum test's power for a shift d is about
// Phi(d sqrt(12 mn / (N + 1)) S - z(1 - alpha / 2)), S the integral of the
// spread's squared density (Noether's approximation).
double normal_shift(const std::vector<double>& spread, std::size_t n_a, std::size_t n_b, double alpha,
                    double power) {
    const double density = squared_density(spread);
    if (density <= 0) return 0;
    const double m = static_cast<double>(n_a), n = static_cast<double>(n_b);
    const double z = normal_quantile_above(alpha / 2) + normal_quantile_above(1 - power);
    return z / (density * std::sqrt(12 * m * n / (m + n + 1)));
}

// The signed-rank test's power for a shift d of n pairs is about
// Phi(d sqrt(12 n) S - z(1 - alpha / 2)), S that of the pairs' spread.
double normal_paired_shift(const std::vector<double>& spread, std::size_t n, double alpha, double power) {
    const double density = squared_density(spread);
    if (density <= 0) return 0;
    const double z = normal_quantile_above(alpha / 2) + normal_quantile_above(1 - power);
    return z / (density * std::sqrt(12 * static_cast<double>(n)));
}

// B slower by s: B = A (1 - s), a shift of -log(1 - s).
std::optional<double> slowdown_of(double shift) {
    const double slowdown = -std::expm1(-shift);
    return std::isfinite(slowdown) && slowdown < 1 ? std::optional<double>(slowdown) : std::nullopt;
}

}  // namespace

std::vector<double> log_spread(const std::vector<double>& a, const std::vector<double>& b) {
    std::vector<double> spread;
    for (const std::vector<double>* side : {&a, &b}) {
        std::vector<double> logs;
        for (double v : *side) logs.push_back(std::log(v));
        if (logs.empty()) continue;
        const double middle = median_of(logs);
        for (double v : logs) spread.push_back(v - middle);
    }
    return spread;
}

std::optional<double> detectable_slowdown(const std::vector<double>& spread, std::size_t n_a, std::size_t n_b,
                                          double alpha, double power) {
    const std::optional<std::uint64_t> critical = rank_sum_critical(n_a, n_b, alpha);
    if (!critical || spread.empty()) return std::nullopt;
    const double shift = n_a + n_b <= kExactPooled ? simulated_shift(spread, n_a, n_b, *critical, power)
                                                   : normal_shift(spread, n_a, n_b, alpha, power);
    return slowdown_of(shift);
}

std::optional<double> detectable_slowdown(const std::vector<double>& a, const std::vector<double>& b, double alpha) {
    return detectable_slowdown(log_spread(a, b), a.size(), b.size(), alpha);
}

std::vector<double> pair_log_spread(const std::vector<double>& a, const std::vector<double>& b) {
    std::vector<double> spread;
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) spread.push_back(std::log(b[i]) - std::log(a[i]));
    if (spread.empty()) return spread;
    const double middle = median_of(spread);
    const std::size_t n = spread.size();
    for (std::size_t i = 0; i < n; ++i) {
        spread[i] -= middle;
        spread.push_back(-spread[i]);
    }
    return spread;
}

std::optional<double> detectable_paired_slowdown(const std::vector<double>& spread, std::size_t pairs, double alpha,
                                                 double power) {
    const std::optional<std::uint64_t> critical = signed_rank_critical(pairs, alpha);
    if (!critical || spread.empty()) return std::nullopt;
    return slowdown_of(pairs <= kExactPairs ? simulated_paired_shift(spread, pairs, *critical, power)
                                            : normal_paired_shift(spread, pairs, alpha, power));
}

std::optional<double> detectable_paired_slowdown(const std::vector<double>& a, const std::vector<double>& b,
                                                 double alpha) {
    return detectable_paired_slowdown(pair_log_spread(a, b), a.size(), alpha);
}

std::optional<std::size_t> rounds_needed(const std::vector<double>& spread, double slowdown, std::size_t most,
                                         double alpha, bool paired) {
    const auto seen = [&](std::size_t n) {
        const std::optional<double> smallest =
            paired ? detectable_paired_slowdown(spread, n, alpha) : detectable_slowdown(spread, n, n, alpha);
        return smallest && *smallest <= slowdown;
    };
    std::size_t low = static_cast<std::size_t>(paired ? kFewestPairs : kFewestDecidable);
    if (most < low || !seen(most)) return std::nullopt;
    // Fewer rounds see less: the first size that sees it, by bisection.
    std::size_t high = most;
    while (low < high) {
        const std::size_t mid = low + (high - low) / 2;
        if (seen(mid)) {
            high = mid;
        } else {
            low = mid + 1;
        }
    }
    return low;
}

}  // namespace ptrun
