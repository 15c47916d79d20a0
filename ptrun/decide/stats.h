// Whether two sets of rate scores differ, and whether the results they came
// from can be compared at all: pure, the same for `ptrun compare` and for the
// comparison at the end of a call with several builds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "decide/levels.h"
#include "model/figures.h"

namespace ptrun {

// B against A, higher being better. The rank-sum test is exact (midranks for
// ties) up to kExactPooled values in all, normal with tie correction above.
// The interval is the one the same test inverts, over the ratios b/a of all
// pairs, with the coverage it really has (at least 1 - alpha where the sizes
// allow, else the widest there is); the estimate is the median of those
// ratios (Hodges-Lehmann). "faster" and "slower" need the test to say so and
// the whole interval to lie on that side of 1: with ties the test counts them
// by midranks while the interval's order comes from the distribution without
// ties, and either alone could hold 1 while the other excludes it; needing
// both, a verdict never contradicts its interval. Ratios are worked out in
// logs, so that scores near the largest double give ratios, not infinities.
// Every value must be finite and above 0: std::invalid_argument otherwise,
// and for an empty side.
SampleComparison compare_samples(const std::vector<double>& a, const std::vector<double>& b, double alpha = kAlpha);

// The largest Mann-Whitney U of B (pairs in which B's value is the higher,
// without ties) at which the test used for these sizes calls B lower at
// level alpha (two-sided): exact or normal, as above. Nothing where no
// outcome of these sizes could be significant.
std::optional<std::uint64_t> rank_sum_critical(std::size_t n_a, std::size_t n_b, double alpha = kAlpha);

// The probability that a standard normal exceeds z, and the z it exceeds
// with probability p.
double normal_upper_tail(double z);
double normal_quantile_above(double p);

}  // namespace ptrun
