// The comparison of two sets of scores against cases worked by hand, and the
// figures of scores of any magnitude.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>
#include <stdexcept>

#include "ptrun/decide/analyse.h"
#include "ptrun/decide/gate.h"
#include "ptrun/decide/power.h"
#include "ptrun/decide/rounds.h"
#include "ptrun/decide/selective.h"
#include "ptrun/decide/stats.h"

namespace {

std::vector<double> range(double from, int count) {
    std::vector<double> values(static_cast<std::size_t>(count));
    std::iota(values.begin(), values.end(), from);
    return values;
}

}  // namespace

TEST(PtrunStats, AgreesWithAllPairsOnRandomSamples) {
    std::mt19937 random(25);
    for (int trial = 0; trial < 300; ++trial) {
        // Sizes of the exact test and beyond; scores of few levels (ties) or spread out.
        std::uniform_int_distribution<std::size_t> size(trial % 3 != 0 ? 1 : 28, trial % 3 != 0 ? 8 : 45);
        const std::size_t m = size(random), n = size(random);
        std::uniform_real_distribution<double> spread(90, 110), shift(0.8, 1.25);
        std::vector<double> a(m), b(n), ratios;
        for (double& v : a) v = trial % 2 ? spread(random) : std::round(spread(random) / 5);
        for (double& v : b) v = (trial % 2 ? spread(random) : std::round(spread(random) / 5)) * shift(random);
        // As first written: every pair's ratio, sorted; the U distribution
        // counted ([m+n choose n] in q) or normal; k walked up.
        for (double x : a) {
            for (double y : b) ratios.push_back(y / x);
        }
        std::sort(ratios.begin(), ratios.end());
        std::vector<double> ways(m * n + m + n + 1, 0);
        ways[0] = 1;
        for (std::size_t i = 1; i <= n; ++i) {
            for (std::size_t u = ways.size() - 1; u >= m + i; --u) ways[u] -= ways[u - m - i];
            for (std::size_t u = i; u < ways.size(); ++u) ways[u] += ways[u - i];
        }
        const double all = std::accumulate(ways.begin(), ways.end(), 0.0), mn = static_cast<double>(m * n);
        const auto at_most = [&](std::size_t u) {
            if (m + n <= ptrun::kExactPooled) return std::accumulate(ways.begin(), ways.begin() + u + 1, 0.0) / all;
            return 0.5 * std::erfc((mn / 2 - (u + 0.5)) / std::sqrt(mn * (m + n + 1) / 12.0) / std::sqrt(2.0));
        };
        std::size_t k = 1;
        while (k + 1 <= ratios.size() / 2 && 2 * at_most(k) <= 0.05) ++k;
        const std::size_t mid = ratios.size() / 2;
        const double estimate = ratios.size() % 2 ? ratios[mid] : std::sqrt(ratios[mid - 1] * ratios[mid]);

        const ptrun::SampleComparison got = ptrun::compare_samples(a, b);
        EXPECT_NEAR(got.ratio_low / ratios[k - 1], 1, 1e-12) << trial;
        EXPECT_NEAR(got.ratio_high / ratios[ratios.size() - k], 1, 1e-12) << trial;
        EXPECT_NEAR(got.estimate / estimate, 1, 1e-12) << trial;
        EXPECT_NEAR(got.confidence, 1 - 2 * at_most(k - 1), 1e-12) << trial;
    }
}

// The paired test against every sign its pairs could have had: p counted
// over all 2^n signs of the differences' midranks (0 left out), the interval
// from every Walsh average sorted at the order the signs give without ties;
// normal past the exact sizes. Differences of few levels tie and hit 0.
TEST(PtrunStats, PairedTestAgreesWithEverySignOfItsPairs) {
    std::mt19937 random(41);
    for (int trial = 0; trial < 120; ++trial) {
        const bool normal = trial % 10 == 9;
        std::uniform_int_distribution<std::size_t> size(normal ? 101 : 6, normal ? 130 : 13);
        std::normal_distribution<double> noise(trial % 4 * 0.004 - 0.004, 0.01);
        const std::size_t n = size(random);
        std::vector<double> a(n), b(n), d(n), walsh;
        for (std::size_t i = 0; i < n; ++i) {
            a[i] = 1000 + 10.0 * i;
            d[i] = trial % 2 ? std::round(noise(random) * 300) / 300 : noise(random);
            b[i] = a[i] * std::exp(d[i]);
            d[i] = std::log(b[i]) - std::log(a[i]);
        }
        for (std::size_t i = 0; i < n; ++i) {
            for (std::size_t j = i; j < n; ++j) walsh.push_back((d[i] + d[j]) / 2);
        }
        std::sort(walsh.begin(), walsh.end());
        const auto signs = [](const std::vector<double>& ranks, double observed) {
            double extreme = 0, mean = std::accumulate(ranks.begin(), ranks.end(), 0.0) / 2, below = 0;
            for (std::uint32_t mask = 0; mask < (1u << ranks.size()); ++mask) {
                double t = 0;
                for (std::size_t r = 0; r < ranks.size(); ++r) t += (mask >> r & 1) != 0 ? ranks[r] : 0;
                extreme += std::fabs(t - mean) >= std::fabs(observed - mean) - 1e-9;
                below += t <= observed + 1e-9;
            }
            return std::pair{extreme / (1u << ranks.size()), below / (1u << ranks.size())};
        };
        const double m = static_cast<double>(n), sd = std::sqrt(m * (m + 1) * (2 * m + 1) / 24);
        std::vector<double> plain(n);
        std::iota(plain.begin(), plain.end(), 1.0);
        const auto at_most = [&](std::size_t t) {
            if (normal) return 0.5 * std::erfc((m * (m + 1) / 4 - (t + 0.5)) / sd / std::sqrt(2.0));
            return signs(plain, static_cast<double>(t)).second;
        };
        std::size_t k = 1;
        while (k + 1 <= walsh.size() / 2 && 2 * at_most(k) <= 0.05) ++k;
        const std::size_t mid = walsh.size() / 2;
        const double estimate = walsh.size() % 2 ? walsh[mid] : (walsh[mid - 1] + walsh[mid]) / 2;

        const ptrun::SampleComparison got = ptrun::compare_pairs(a, b);
        EXPECT_EQ(got.pairs, n);
        EXPECT_NEAR(std::log(got.ratio_low), walsh[k - 1], 1e-12) << trial;
        EXPECT_NEAR(std::log(got.ratio_high), walsh[walsh.size() - k], 1e-12) << trial;
        EXPECT_NEAR(std::log(got.estimate), estimate, 1e-12) << trial;
        EXPECT_NEAR(got.confidence, 1 - 2 * at_most(k - 1), 1e-12) << trial;
        if (normal) continue;
        std::vector<double> sizes, ranks;
        for (double v : d) {
            if (v != 0) sizes.push_back(std::fabs(v));
        }
        double positive = 0;
        for (double v : d) {
            if (v == 0) continue;
            const double less = std::count_if(sizes.begin(), sizes.end(), [v](double x) { return x < std::fabs(v); });
            const double same = std::count(sizes.begin(), sizes.end(), std::fabs(v));
            ranks.push_back(less + (same + 1) / 2);
            positive += v > 0 ? ranks.back() : 0;
        }
        EXPECT_NEAR(got.p_value, ranks.empty() ? 1 : signs(ranks, positive).first, 1e-12) << trial;
    }
    // Too few pairs to decide, and pairs that cannot be.
    EXPECT_EQ(ptrun::compare_pairs(range(1, 5), range(2, 5)).verdict, ptrun::Verdict::too_few);
    EXPECT_EQ(ptrun::compare_pairs(range(2, 6), range(1, 6)).verdict, ptrun::Verdict::slower);
    EXPECT_EQ(ptrun::compare_pairs(range(1, 9), range(1, 9)).verdict, ptrun::Verdict::no_difference);
    EXPECT_THROW(ptrun::compare_pairs(range(1, 6), range(1, 7)), std::invalid_argument);
}

TEST(PtrunStats, DecidesWithTheTestUsedAndNeverAgainstTheInterval) {
    using ptrun::Verdict;
    std::vector<double> mostly_equal(31, 1);
    std::fill_n(mostly_equal.begin(), 6, 2);
    struct Case {
        std::vector<double> a, b;
        Verdict verdict;
        double ratio, estimate;
    };
    const std::vector<Case> cases = {
        // 1 against 59 is exact: B's all below A's one round, p = 2/60.
        {{100}, range(40, 59), Verdict::slower, 0.69, 0.69},
        // 1 against 60 or more is normal: even all of B below A is p 0.09.
        {{100}, range(40, 60), Verdict::too_few, 0.695, std::sqrt(69.0 * 70) / 100},
        // The rank test, on ties, says B ranks higher (p 0.012), but most pairs are
        // equal: the estimate and the whole interval say 1.
        {std::vector<double>(30, 1), mostly_equal, Verdict::no_difference, 1, 1},
        // Scores near the largest double: ratios in logs, not through infinity.
        {{1e308, 1e308, 1e308}, {1e308, 1e308, 1e308}, Verdict::too_few, 1, 1},
        {std::vector<double>(4, 1e308), std::vector<double>(4, 1e307), Verdict::slower, 0.1, 0.1},
        {{1.7e308, 1.6e308}, {1.7e308, 1.6e308}, Verdict::too_few, 1, 1},
        // Ties: p 0.0476 by midranks, but the interval (0.988 to 1.001) holds 1.
        {{995, 1000, 1004, 1005, 1005, 1007}, {993, 994, 996, 997, 1003}, Verdict::no_difference, 996.0 / 1004.5,
         0.9925197843811778},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const ptrun::SampleComparison got = ptrun::compare_samples(cases[i].a, cases[i].b);
        EXPECT_EQ(got.verdict, cases[i].verdict) << i << ": " << ptrun::verdict_text(got.verdict);
        EXPECT_EQ(got.decidable, cases[i].verdict != Verdict::too_few) << i;
        EXPECT_NEAR(got.ratio, cases[i].ratio, 1e-12) << i;
        EXPECT_NEAR(got.estimate, cases[i].estimate, 1e-12) << i;
        EXPECT_TRUE(got.ratio_low <= got.estimate && got.estimate <= got.ratio_high) << i;
    }
    // Whole-number scores at a spread of 0.1 to 0.3 %, so that rounds tie: a
    // verdict, and the gate at any percentage, never goes against the interval.
    std::mt19937 random(32);
    int verdicts = 0;
    for (int trial = 0; trial < 3000; ++trial) {
        std::uniform_int_distribution<std::size_t> size(4, 12);
        std::normal_distribution<double> noise(0, 1 + trial % 3), shift(0, 3);
        const double b_mean = 1000 + shift(random);
        std::vector<double> a(size(random)), b(size(random));
        for (double& v : a) v = std::round(1000 + noise(random));
        for (double& v : b) v = std::round(b_mean + noise(random));
        const ptrun::SampleComparison got = ptrun::compare_samples(a, b);
        verdicts += got.verdict == Verdict::faster || got.verdict == Verdict::slower;
        if (got.verdict == Verdict::slower || ptrun::gate(got, 0, false) == ptrun::Gate::fail) {
            EXPECT_LT(got.ratio_high, 1) << trial;
        }
        if (got.verdict == Verdict::faster) {
            EXPECT_GT(got.ratio_low, 1) << trial;
        }
    }
    EXPECT_GT(verdicts, 300);  // the property was put to the test
}

// Figures of scores the reader accepts, up to the largest double: no sum overflows.
TEST(PtrunFigures, HoldScoresOfAnyMagnitude) {
    struct Case {
        std::vector<double> rates;
        double median, cv;
    };
    const std::vector<Case> cases = {
        {{1.79e308, 1.7e308}, 1.745e308, 0.0364697},
        {{1.79e308, 1.79e308, 1.79e308, 1.79e308}, 1.79e308, 0},
        {std::vector<double>(4, 1e-323), 1e-323, 0},
        {{2, 4, 4, 6}, 4, 0.4082483},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        EXPECT_NEAR(ptrun::median_of(cases[i].rates) / cases[i].median, 1, 1e-15) << i;
        EXPECT_NEAR(ptrun::cv_of(cases[i].rates), cases[i].cv, 1e-7) << i;
        // The same figures, by the one path a document's summary, citation and charts take.
        ptrun::Document doc;
        doc.hosts.push_back({"h", "h", std::nullopt, ptrun::Machine{}, true});
        doc.builds.push_back({});
        doc.builds[0].id = "A";
        for (std::size_t r = 0; r < cases[i].rates.size(); ++r) {
            ptrun::RunRecord run;
            run.host = "h", run.build = "A", run.copies = run.copy = 1, run.round = static_cast<int>(r) + 1;
            run.score = cases[i].rates[r];
            doc.runs.push_back(run);
        }
        ptrun::analyse(doc);
        ASSERT_EQ(doc.summary.size(), 1u) << i;
        EXPECT_EQ(doc.summary[0].median, ptrun::median_of(cases[i].rates)) << i;
        EXPECT_EQ(doc.summary[0].cv, ptrun::cv_of(cases[i].rates)) << i;
        EXPECT_EQ(doc.citation->find("inf"), std::string::npos) << *doc.citation;
        EXPECT_NE(doc.citation->find(" work units/s (median of"), std::string::npos) << *doc.citation;
    }
}

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

// The slowdown a comparison could have seen: rounds of a normal spread with
// that slowdown added to B are shown slower by the real test in about 80 %
// of calls, exact and normal alike; a wider spread sees less, more rounds
// more; too few rounds see nothing, and rounds_needed is the first size that
// sees a slowdown.
TEST(PtrunPower, DetectableSlowdownIsSeenEightyPercentOfTheTime) {
    std::mt19937_64 engine(7);
    std::normal_distribution<double> noise(0, 0.01);
    const auto rounds = [&](std::size_t n, double factor, double sd) {
        std::vector<double> v(n);
        for (double& x : v) x = 1000 * factor * std::exp(noise(engine) * sd / 0.01);
        return v;
    };
    struct Case {
        std::size_t n;
        double sd;
    };
    for (const Case c : {Case{8, 0.01}, Case{20, 0.02}, Case{40, 0.01}}) {
        const std::optional<double> d = ptrun::detectable_slowdown(rounds(c.n, 1, c.sd), rounds(c.n, 1, c.sd));
        ASSERT_TRUE(d) << c.n;
        int seen = 0;
        for (int call = 0; call < 300; ++call) {
            const auto figures = ptrun::compare_samples(rounds(c.n, 1, c.sd), rounds(c.n, 1 - *d, c.sd));
            seen += figures.verdict == ptrun::Verdict::slower;
        }
        // The spread is estimated from one call's rounds: a loose band.
        EXPECT_NEAR(seen / 300.0, ptrun::kPower, 0.15) << c.n << " rounds, sd " << c.sd << ": " << *d;
    }
    const std::vector<double> spread = ptrun::log_spread(rounds(10, 1, 0.01), rounds(10, 1, 0.01));
    std::vector<double> wider = spread;
    for (double& v : wider) v *= 2;
    const double at_10 = ptrun::detectable_slowdown(spread, 10, 10).value_or(0);
    EXPECT_GT(ptrun::detectable_slowdown(wider, 10, 10).value_or(0), 1.8 * at_10);
    EXPECT_LT(ptrun::detectable_slowdown(spread, 25, 25).value_or(1), at_10);
    // Past the exact test's sizes, the normal approximation goes on falling.
    EXPECT_LT(ptrun::detectable_slowdown(spread, 100, 100).value_or(1),
              ptrun::detectable_slowdown(spread, 30, 30).value_or(0));
    EXPECT_EQ(ptrun::detectable_slowdown(spread, 3, 3), std::nullopt);
    EXPECT_EQ(ptrun::detectable_slowdown(std::vector<double>(8, 0.0), 4, 4), 0.0);
    const std::optional<std::size_t> needed = ptrun::rounds_needed(spread, at_10);
    ASSERT_TRUE(needed);
    EXPECT_LE(ptrun::detectable_slowdown(spread, *needed, *needed).value_or(1), at_10);
    EXPECT_GT(ptrun::detectable_slowdown(spread, *needed - 1, *needed - 1).value_or(1), at_10);
    EXPECT_EQ(ptrun::rounds_needed(spread, 1e-6, 50), std::nullopt);

    // Pairs on a machine whose speed moves 5 % from pair to pair: the paired
    // figure is far below the unpaired one, and (worked out from 60 pairs'
    // spread, so that one call's spread is not what is tested) seen about 80 %
    // of the time.
    std::normal_distribution<double> drift(0, 0.05);
    const auto pairs = [&](std::size_t n, double factor) {
        std::pair<std::vector<double>, std::vector<double>> ab;
        for (std::size_t i = 0; i < n; ++i) {
            const double machine = std::exp(drift(engine));
            ab.first.push_back(machine * rounds(1, 1, 0.01)[0]);
            ab.second.push_back(machine * rounds(1, factor, 0.01)[0]);
        }
        return ab;
    };
    const auto [first_a, first_b] = pairs(60, 1);
    EXPECT_LT(ptrun::detectable_paired_slowdown(first_a, first_b).value_or(1),
              ptrun::detectable_slowdown(first_a, first_b).value_or(0) / 3);
    for (const std::size_t n : {8, 20, 120}) {
        const std::optional<double> d =
            ptrun::detectable_paired_slowdown(ptrun::pair_log_spread(first_a, first_b), n);
        ASSERT_TRUE(d) << n;
        int seen = 0;
        for (int call = 0; call < 300; ++call) {
            const auto [x, y] = pairs(n, 1 - *d);
            seen += ptrun::compare_pairs(x, y).verdict == ptrun::Verdict::slower;
        }
        EXPECT_NEAR(seen / 300.0, ptrun::kPower, 0.15) << n << " pairs: " << *d;
    }
    const auto [a, b] = pairs(10, 1);
    const std::vector<double> paired = ptrun::pair_log_spread(a, b);
    const double at_10_pairs = ptrun::detectable_paired_slowdown(paired, 10).value_or(0);
    EXPECT_EQ(ptrun::detectable_paired_slowdown(paired, 5), std::nullopt);
    const std::optional<std::size_t> pairs_needed = ptrun::rounds_needed(paired, at_10_pairs, 10000, 0.05, true);
    ASSERT_TRUE(pairs_needed);
    EXPECT_LE(ptrun::detectable_paired_slowdown(paired, *pairs_needed).value_or(1), at_10_pairs);
    EXPECT_GT(ptrun::detectable_paired_slowdown(paired, *pairs_needed - 1).value_or(1), at_10_pairs);
}

// The size of a change found because it cleared a bar: among differences
// drawn about a true size near the bar, those found hold the truth in their
// interval 95 % of the time (the plain interval, in about half); far beyond
// the bar it is the plain one, below it nothing is conditioned on, and a
// change downwards is the mirror image of one upwards.
TEST(PtrunSelective, HoldsTheTruthAmongTheChangesFound) {
    std::mt19937_64 engine(11);
    std::normal_distribution<double> noise(0, 1);
    const double truth = 2, bar = 3.5;
    int found = 0, held = 0, plain = 0;
    for (int draw = 0; draw < 20000; ++draw) {
        const double d = truth + noise(engine);
        if (std::fabs(d) <= bar) continue;
        const ptrun::SelectiveSize s = ptrun::selective_size(d, 1, bar, 0.95);
        found += 1;
        held += s.low <= truth && truth <= s.high;
        plain += std::fabs(d - truth) <= 1.96;
    }
    EXPECT_NEAR(static_cast<double>(held) / found, 0.95, 0.02) << found;
    EXPECT_LT(static_cast<double>(plain) / found, 0.7);
    const ptrun::SelectiveSize far = ptrun::selective_size(12, 1, 3.5, 0.95);
    EXPECT_NEAR(far.low, 12 - 1.96, 1e-3);
    EXPECT_NEAR(far.high, 12 + 1.96, 1e-3);
    EXPECT_NEAR(far.estimate, 12, 1e-3);
    const ptrun::SelectiveSize under = ptrun::selective_size(-0.5, 2, 3, 0.95);
    EXPECT_NEAR(under.low, -0.5 - 1.96 * 2, 1e-3);
    const ptrun::SelectiveSize up = ptrun::selective_size(3.8, 1, 3.5, 0.95);
    const ptrun::SelectiveSize down = ptrun::selective_size(-3.8, 1, 3.5, 0.95);
    EXPECT_LT(up.estimate, 3.8);
    EXPECT_NEAR(down.low, -up.high, 1e-9);
    EXPECT_NEAR(down.estimate, -up.estimate, 1e-9);
}
