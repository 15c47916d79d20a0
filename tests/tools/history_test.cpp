// Change points over hand-made months of calls, and hosts' standing in their groups.
#include <gtest/gtest.h>

#include <stdexcept>

#include "ptrun/decide/changepoint.h"
#include "ptrun/decide/standing.h"

namespace {

// 30 nightly calls of 3 rounds about 1000, spread about 2 % by a fixed
// pattern; calls from `step_at` on scaled by `step`, call `odd` by `odd_by`.
std::vector<ptrun::CallRounds> month(std::size_t step_at, double step, std::size_t odd = 99, double odd_by = 1) {
    const double wobble[] = {-0.021, 0.013, 0.002, 0.024, -0.009, 0.017, -0.015, 0.006, -0.026, 0.011, -0.003};
    std::vector<ptrun::CallRounds> calls(30);
    for (std::size_t c = 0; c < calls.size(); ++c) {
        for (std::size_t r = 0; r < 3; ++r) {
            const double scale = (c >= step_at ? step : 1) * (c == odd ? odd_by : 1);
            calls[c].push_back(1000 * scale * (1 + wobble[(c * 3 + r) * 4 % 11]));
        }
    }
    return calls;
}

}  // namespace

TEST(PtrunHistory, FindsStepsButNotOutlierCalls) {
    struct Case {
        const char* name;
        std::vector<ptrun::CallRounds> calls;
        std::vector<std::size_t> changes;  // first calls after each change
        double estimate;                   // of the last change, after against before
    };
    const std::vector<Case> cases = {
        {"a month without a change", month(99, 1), {}, 0},
        {"a 5 % step on the 18th", month(18, 0.95), {18}, 0.95},
        {"a 4 % gain on the 10th", month(10, 1.04), {10}, 1.04},
        {"one call 15 % low", month(99, 1, 12, 0.85), {}, 0},
        {"the newest call 15 % low", month(99, 1, 29, 0.85), {}, 0},
        {"the newest two calls 10 % low", month(28, 0.9), {28}, 0.9},
        {"a step and an outlier call after it", month(15, 0.95, 22, 0.8), {15}, 0.95},
    };
    for (const Case& c : cases) {
        const auto found = ptrun::find_change_points(c.calls);
        std::vector<std::size_t> at;
        for (const auto& change : found) at.push_back(change.first_call);
        EXPECT_EQ(at, c.changes) << c.name;
        if (found.empty() || at != c.changes) continue;
        const ptrun::SampleComparison& size = found.back().comparison;
        EXPECT_NEAR(size.estimate, c.estimate, 0.01) << c.name;
        EXPECT_TRUE(size.ratio_low <= size.estimate && size.estimate <= size.ratio_high) << c.name;
        EXPECT_TRUE(size.ratio_high < 1 || size.ratio_low > 1) << c.name;
        EXPECT_LE(found.back().split_p, 0.01) << c.name;
        EXPECT_LT(size.p_value, 0.05) << c.name;
    }
    EXPECT_THROW(ptrun::find_change_points({{1000}, {}}), std::invalid_argument);
    EXPECT_THROW(ptrun::find_change_points({{1000}, {0}}), std::invalid_argument);
}

TEST(PtrunHistory, MarksOnlyAHostClearlySlowForItsKind) {
    using F = ptrun::HostFigure;
    const std::vector<F> figures = {
        // Five of a kind, one 10 % below the rest, at one copy; all close at four.
        {"EPYC|gcc", "a", 1, 1000}, {"EPYC|gcc", "b", 1, 1010}, {"EPYC|gcc", "c", 1, 990},
        {"EPYC|gcc", "d", 1, 1005}, {"EPYC|gcc", "slow", 1, 900},
        {"EPYC|gcc", "a", 4, 3990}, {"EPYC|gcc", "b", 4, 4000}, {"EPYC|gcc", "c", 4, 4010},
        {"EPYC|gcc", "slow", 4, 3980},
        // Of another kind: slower, but compared with nobody of its own.
        {"Xeon|gcc", "x", 1, 700},
        // Two of a kind make no group to stand out of.
        {"Core|clang", "p", 1, 1000}, {"Core|clang", "q", 1, 800},
    };
    struct Want {
        std::size_t group_size;
        double percentile, ratio;
        bool outlier;
    };
    const std::vector<Want> want = {
        {5, 50, 1, false},     {5, 90, 1.01, false},  {5, 30, 0.99, false}, {5, 70, 1.005, false},
        {5, 10, 0.9, true},    {4, 37.5, 0.99875, false}, {4, 62.5, 1.00125, false}, {4, 87.5, 1.00375, false},
        {4, 12.5, 0.99625, false}, {1, 50, 1, false}, {2, 75, 1.111, false}, {2, 25, 0.889, false},
    };
    const auto got = ptrun::find_standings(figures);
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(got[i].copies, figures[i].copies) << i;
        EXPECT_EQ(got[i].group_size, want[i].group_size) << i;
        EXPECT_DOUBLE_EQ(got[i].percentile, want[i].percentile) << i;
        EXPECT_NEAR(got[i].ratio_to_group_median, want[i].ratio, 0.001) << i;
        EXPECT_EQ(got[i].outlier, want[i].outlier) << i;
    }
    EXPECT_THROW(ptrun::find_standings({{"g", "h", 1, 0}}), std::invalid_argument);
}
