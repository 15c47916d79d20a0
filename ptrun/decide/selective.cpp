#include "decide/selective.h"

#include <cmath>

#include "decide/stats.h"

namespace ptrun {

namespace {

double lower_tail(double z) { return normal_upper_tail(-z); }
double upper_tail(double z) { return normal_upper_tail(z); }

// P(X <= x | |X| > t) for X normal about mu with spread 1, x > t > 0. The
// part in (t, x] is taken from whichever tails are small there, so that no
// difference of two numbers near 1 loses what is left.
double found_below(double x, double t, double mu) {
    const double under = lower_tail(-t - mu), over = upper_tail(t - mu);
    const double between = mu > (t + x) / 2 ? lower_tail(x - mu) - lower_tail(t - mu) : over - upper_tail(x - mu);
    return (under + between) / (under + over);
}

// The mu at which found_below(x, t, mu) is p: it falls as mu grows.
double bound_at(double x, double t, double p) {
    double low = x - 40, high = x + 40;
    for (int i = 0; i < 200 && high - low > 1e-12; ++i) {
        const double mid = (low + high) / 2;
        (found_below(x, t, mid) > p ? low : high) = mid;
    }
    return (low + high) / 2;
}

}  // namespace

SelectiveSize selective_size(double d, double sd, double bound, double confidence) {
    const double tail = (1 - confidence) / 2, x = std::fabs(d) / sd, t = bound / sd;
    SelectiveSize s;
    if (x <= t) {
        const double z = normal_quantile_above(tail);
        return {d, d - z * sd, d + z * sd};
    }
    s.estimate = bound_at(x, t, 0.5) * sd;
    s.low = bound_at(x, t, 1 - tail) * sd;
    s.high = bound_at(x, t, tail) * sd;
    // The family is symmetric: a change downwards is the mirror image.
    if (d < 0) s = {-s.estimate, -s.high, -s.low};
    return s;
}

}  // namespace ptrun
