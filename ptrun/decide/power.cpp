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

// Draws from the spread, smoothed: its values at random plus a normal kernel.
// mt19937_64 and the transforms below are the same in every standard
// library, so a figure does not move between systems.
class SmoothedDraws {
public:
    explicit SmoothedDraws(const std::vector<double>& spread) : spread_(spread) {
        const double n = static_cast<double>(spread.size());
        double mean = 0;
        for (double v : spread) mean += v / n;
        double square = 0;
        for (double v : spread) square += (v - mean) * (v - mean);
        const double sd = spread.size() > 1 ? std::sqrt(square / (n - 1)) : 0;
        std::vector<double> sorted = spread;
        std::sort(sorted.begin(), sorted.end());
        const auto at = [&sorted](double q) { return sorted[static_cast<std::size_t>(q * (sorted.size() - 1))]; };
        const double iqr = (at(0.75) - at(0.25)) / 1.34;
        // Silverman's rule of thumb.
        bandwidth_ = 0.9 * (iqr > 0 ? std::min(sd, iqr) : sd) * std::pow(n, -0.2);
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

double normal_quantile(double p) {
    double low = -40, high = 40;
    for (int i = 0; i < 200 && high - low > 1e-12; ++i) {
        const double mid = (low + high) / 2;
        (0.5 * std::erfc(-mid / std::numbers::sqrt2) < p ? low : high) = mid;
    }
    return (low + high) / 2;
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
    const auto at = shifts.begin() + static_cast<std::ptrdiff_t>(std::ceil(power * kDraws) - 1);
    std::nth_element(shifts.begin(), at, shifts.end());
    return std::max(0.0, *at);
}

// The rank-sum test's power for a shift d of a normal spread of sd sigma is
// about Phi(d sqrt(12 mn / (N + 1)) / (2 sigma sqrt(pi)) - z(1 - alpha / 2)):
// its efficiency against the normal is 3 / pi.
double normal_shift(const std::vector<double>& spread, std::size_t n_a, std::size_t n_b, double alpha,
                    double power) {
    std::vector<double> deviations = spread;
    const double middle = median_of(deviations);
    for (double& v : deviations) v = std::fabs(v - middle);
    double sigma = 1.4826 * median_of(deviations);
    if (sigma == 0) {
        for (double v : deviations) sigma = std::max(sigma, v);
    }
    const double m = static_cast<double>(n_a), n = static_cast<double>(n_b);
    const double z = normal_quantile(1 - alpha / 2) + normal_quantile(power);
    return z * 2 * sigma * std::sqrt(std::numbers::pi) * std::sqrt((m + n + 1) / (12 * m * n));
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
    // B slower by s: B = A (1 - s), a shift of -log(1 - s).
    const double slowdown = -std::expm1(-shift);
    return std::isfinite(slowdown) && slowdown < 1 ? std::optional<double>(slowdown) : std::nullopt;
}

std::optional<double> detectable_slowdown(const std::vector<double>& a, const std::vector<double>& b, double alpha) {
    return detectable_slowdown(log_spread(a, b), a.size(), b.size(), alpha);
}

std::optional<std::size_t> rounds_needed(const std::vector<double>& spread, double slowdown, std::size_t most,
                                         double alpha) {
    const auto seen = [&](std::size_t n) {
        const std::optional<double> smallest = detectable_slowdown(spread, n, n, alpha);
        return smallest && *smallest <= slowdown;
    };
    std::size_t low = static_cast<std::size_t>(kFewestDecidable);
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
