// The levels the rank test works at, and what follows from them, for
// whatever prints them: help texts, tables and messages say what the test
// does from these, never from numbers of their own.
#pragma once

#include <cstddef>

namespace ptrun {

// The level of every test and interval ptrun gives: p at most 5 %, intervals of 95 %.
inline constexpr double kAlpha = 0.05;
inline constexpr int kConfidencePercent = static_cast<int>((1 - kAlpha) * 100 + 0.5);

inline constexpr std::size_t kExactPooled = 60;

// The fewest rounds a side (both the same) at which the exact test can be
// significant at level alpha at all: its most extreme outcome, every B above
// every A, has p = 2 / C(2n, n).
constexpr int fewest_decidable_rounds(double alpha) {
    for (int n = 1;; ++n) {
        double choose = 1;
        for (int i = 1; i <= n; ++i) choose = choose * (n + i) / i;
        if (2 / choose <= alpha) return n;
    }
}
inline constexpr int kFewestDecidable = fewest_decidable_rounds(kAlpha);

// The paired test is exact up to kExactPairs pairs (a pair's difference of 0
// left out). It can be significant at level alpha from the fewest pairs whose
// most extreme outcome, every pair's difference of one sign, has p = 2 / 2^n.
inline constexpr std::size_t kExactPairs = 100;
constexpr int fewest_decidable_pairs(double alpha) {
    int n = 1;
    for (double ways = 2; 2 / ways > alpha; ways *= 2) ++n;
    return n;
}
inline constexpr int kFewestPairs = fewest_decidable_pairs(kAlpha);
static_assert(kFewestPairs == 6);

}  // namespace ptrun
