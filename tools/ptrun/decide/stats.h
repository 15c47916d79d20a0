// Whether two sets of rate scores differ, and whether the results they came
// from can be compared at all: pure, the same for `ptrun compare` and for the
// comparison at the end of a call with several builds.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace ptrun {

enum class Verdict { faster, slower, no_difference, too_few };

// The words a verdict is written in: "faster", "slower", "no difference
// shown", "too few runs to decide".
const char* verdict_text(Verdict verdict);

struct SampleComparison {
    std::size_t n_a = 0, n_b = 0;
    double median_a = 0, median_b = 0;
    double ratio = 0;                     // median_b / median_a
    double ratio_low = 0, ratio_high = 0; // interval of the ratio
    double estimate = 0;                  // median of the ratios b/a of all pairs: inside the interval
    double confidence = 0;                // the interval's actual coverage
    double p_value = 1;                   // two-sided rank test
    bool decidable = false;               // whether any outcome could be significant under the test used
    Verdict verdict = Verdict::too_few;
};

// B against A, higher being better. The rank-sum test is exact (midranks for
// ties) up to kExactPooled values in all, normal with tie correction above.
// The interval is the one the same test inverts, over the ratios b/a of all
// pairs, with the coverage it really has (at least 1 - alpha where the sizes
// allow, else the widest there is); the estimate is the median of those
// ratios (Hodges-Lehmann). "faster" and "slower" need the test to say so and
// the estimate to lie on that side of 1: a verdict never contradicts the
// interval. Ratios are worked out in logs, so that scores near the largest
// double give ratios, not infinities. Every value must be finite and above 0:
// std::invalid_argument otherwise, and for an empty side.
SampleComparison compare_samples(const std::vector<double>& a, const std::vector<double>& b, double alpha = 0.05);

inline constexpr std::size_t kExactPooled = 60;

}  // namespace ptrun
