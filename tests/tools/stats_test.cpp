// The comparison of two sets of scores against cases worked by hand.
#include <gtest/gtest.h>

#include <numeric>
#include <stdexcept>

#include "ptrun/stats.h"

namespace {

std::vector<double> range(double from, int count) {
    std::vector<double> values(static_cast<std::size_t>(count));
    std::iota(values.begin(), values.end(), from);
    return values;
}

}  // namespace

TEST(PtrunStats, ComparesSamplesAsWorkedByHand) {
    struct Case {
        std::vector<double> a, b;
        double p, low, high, coverage, ratio;
        const char* verdict;
    };
    const std::vector<Case> cases = {
        // 3 against 3, wholly apart: p = 2/C(6,3) = 0.1, the best these sizes allow.
        {{1, 2, 3}, {4, 5, 6}, 0.1, 4.0 / 3, 6, 0.9, 2.5, "too few runs to decide"},
        // Interleaved: 14 of the 20 rank sums lie as far from 10.5 as 12.
        {{1, 3, 5}, {2, 4, 6}, 0.7, 2.0 / 5, 6, 0.9, 4.0 / 3, "too few runs to decide"},
        // Ties by midranks: ranks 1, 2.5, 2.5, 4; 4 of 6 sums as far from 5 as 6.5.
        {{1, 2}, {2, 3}, 4.0 / 6, 2.0 / 2, 3, 1 - 2.0 / 6, 2.5 / 1.5, "too few runs to decide"},
        // 4 against 4 apart: p = 2/70; P(U <= 1) = 2/70 leaves only the widest interval.
        {{10, 11, 12, 13}, {14, 15, 16, 17}, 2.0 / 70, 14.0 / 13, 17.0 / 10, 1 - 2.0 / 70, 15.5 / 11.5, "faster"},
        // 5 against 5 apart, B below: p = 2/252; P(U <= 2) = 4/252 allows k = 3.
        {{100, 101, 102, 103, 104}, {95, 96, 97, 98, 99}, 2.0 / 252, 96.0 / 104, 98.0 / 100, 1 - 8.0 / 252,
         97.0 / 102, "slower"},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        const ptrun::SampleComparison got = ptrun::compare_samples(c.a, c.b);
        EXPECT_NEAR(got.p_value, c.p, 1e-12) << i;
        EXPECT_NEAR(got.ratio_low, c.low, 1e-12) << i;
        EXPECT_NEAR(got.ratio_high, c.high, 1e-12) << i;
        EXPECT_NEAR(got.confidence, c.coverage, 1e-12) << i;
        EXPECT_NEAR(got.ratio, c.ratio, 1e-12) << i;
        EXPECT_STREQ(ptrun::verdict_text(got.verdict), c.verdict) << i;
    }
    // Pooled sizes beyond the exact test: the normal one, ties included.
    const ptrun::SampleComparison apart = ptrun::compare_samples(range(1, 35), range(36, 35));
    EXPECT_TRUE(apart.decidable);
    EXPECT_LT(apart.p_value, 1e-10);
    EXPECT_GE(apart.confidence, 0.95);
    EXPECT_EQ(apart.verdict, ptrun::Verdict::faster);
    const ptrun::SampleComparison same = ptrun::compare_samples(std::vector<double>(31, 5), std::vector<double>(40, 5));
    EXPECT_EQ(same.p_value, 1);
    EXPECT_EQ(same.verdict, ptrun::Verdict::no_difference);
    EXPECT_THROW(ptrun::compare_samples({}, {1}), std::invalid_argument);
    EXPECT_THROW(ptrun::compare_samples({1, 0}, {1}), std::invalid_argument);
}
