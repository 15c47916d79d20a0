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

// B against A where a[i] and b[i] are a pair: the two builds' rounds of the
// same number in one call, run one after the other, so that a drift of the
// machine's speed moves both. Wilcoxon's signed-rank test of the pairs'
// log-ratios log(b / a): exact up to kExactPairs pairs with a difference
// (midranks for ties of size, differences of 0 left out), normal with a tie
// correction above. The interval is the one the same test inverts, over the
// Walsh averages of the log-ratios (the means of every two pairs' and each
// pair's own), with the coverage it has; the estimate is their median
// (Hodges-Lehmann). Medians and the verdict's rule are compare_samples's;
// n_a = n_b = pairs. std::invalid_argument as there, and for sides of
// different sizes.
SampleComparison compare_pairs(const std::vector<double>& a, const std::vector<double>& b, double alpha = kAlpha);

// The largest Mann-Whitney U of B (pairs in which B's value is the higher,
// without ties) at which the test used for these sizes calls B lower at
// level alpha (two-sided): exact or normal, as above. Nothing where no
// outcome of these sizes could be significant.
std::optional<std::uint64_t> rank_sum_critical(std::size_t n_a, std::size_t n_b, double alpha = kAlpha);

// The largest signed-rank sum of the positive differences among n pairs
// (without ties or zeros) at which the test used for n calls B lower at level
// alpha (two-sided). Nothing where no outcome of n pairs could be significant.
std::optional<std::uint64_t> signed_rank_critical(std::size_t n, double alpha = kAlpha);

// The Walsh averages (x_i + x_j) / 2, i <= j, of values: their k-th smallest,
// k from 1 to n (n + 1) / 2, in time O(n log n) and memory O(n).
double kth_walsh_average(const std::vector<double>& values, std::uint64_t k);

// The probability that a standard normal exceeds z, and the z it exceeds
// with probability p.
double normal_upper_tail(double z);
double normal_quantile_above(double p);

}  // namespace ptrun
