// What a comparison could have seen: the smallest slowdown of B that the
// test of compare (rank-sum, or signed-rank for pairs) would show, at its level, in kPower of calls of
// the same sizes on rounds that spread as these did; and, before a call is
// long, how many rounds a slowdown would need.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "decide/levels.h"

namespace ptrun {

// The share of calls in which a slowdown is to be seen: 80 %.
inline constexpr double kPower = 0.8;
inline constexpr int kPowerPercent = static_cast<int>(kPower * 100 + 0.5);

// The spread of two sides' rounds, as the logs of their rate scores less
// each side's median log: a slowdown is a shift of these.
std::vector<double> log_spread(const std::vector<double>& a, const std::vector<double>& b);

// The smallest slowdown, a fraction (0.031 for 3.1 %), that n_a rounds of A
// and n_b of B spreading as spread would show as "B slower" at level alpha
// in a share `power` of calls. Up to kExactPooled rounds in all it is
// simulated: rounds drawn from the spread smoothed by a normal kernel (a
// fixed seed, so the same rounds give the same figure everywhere), and for
// each draw the exact test's critical shift, whose power-quantile is the
// answer. Above, the normal approximation of the test's power for a shift
// of this spread (the integral of its squared density, by a normal kernel).
// Nothing where no outcome of these sizes could be significant, or where a
// slowdown of 100 % would not do.
std::optional<double> detectable_slowdown(const std::vector<double>& spread, std::size_t n_a, std::size_t n_b,
                                          double alpha = kAlpha, double power = kPower);

// The same for the sides' own rounds.
std::optional<double> detectable_slowdown(const std::vector<double>& a, const std::vector<double>& b,
                                          double alpha = kAlpha);

// The same for the paired test of compare_pairs: the spread of pairs is the
// logs of b[i] / a[i] less their median, each beside its mirror image (with
// no difference, a pair's rounds could as well have come the other way
// round: the spread is symmetric about 0, as the test assumes, and a median
// off the mean shifts no draw), and the smallest slowdown of
// `pairs` such pairs is simulated up to kExactPairs pairs (the critical shift
// of each draw is a Walsh average), the normal approximation above (as for
// the rank-sum test, with sqrt(12 n) for the one sample of differences).
std::vector<double> pair_log_spread(const std::vector<double>& a, const std::vector<double>& b);
std::optional<double> detectable_paired_slowdown(const std::vector<double>& spread, std::size_t pairs,
                                                 double alpha = kAlpha, double power = kPower);
std::optional<double> detectable_paired_slowdown(const std::vector<double>& a, const std::vector<double>& b,
                                                 double alpha = kAlpha);

// The fewest rounds of each build, up to most, at which a slowdown (a
// fraction) is seen in kPower of calls on rounds spreading as spread does
// (paired: spread is pair_log_spread's and the test the paired one);
// nothing where most would not do.
std::optional<std::size_t> rounds_needed(const std::vector<double>& spread, double slowdown,
                                         std::size_t most = 10000, double alpha = kAlpha, bool paired = false);

}  // namespace ptrun
