// The order of the builds' rounds and the stop rule, on rounds made up here.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "ptrun/run/planner.h"

namespace {

struct Outcome {
    std::string order;  // build ids of the rounds run, warm-up rounds in lower case
    std::string stopped_because;
};

// Runs the planner as the runner does: every round gets rate(build, round)
// and takes seconds_per_round.
Outcome simulate(const ptrun::Settings& settings, const std::function<double(std::size_t, int)>& rate,
                 double seconds_per_round = 1) {
    ptrun::Planner planner(settings);
    std::vector<ptrun::RoundFigure> done;
    Outcome outcome;
    while (const auto plan = planner.next(done, seconds_per_round * static_cast<double>(done.size()))) {
        const std::string id = ptrun::build_id(plan->build);
        outcome.order += plan->warmup ? static_cast<char>(id[0] - 'A' + 'a') : id[0];
        done.push_back({{}, {}, ptrun::SharedText(id), plan->copies, plan->round, plan->warmup, false,
                        rate(plan->build, plan->round)});
        if (outcome.order.size() > 1000) break;
    }
    outcome.stopped_because = planner.stopped_because();
    return outcome;
}

ptrun::Settings settings_of(int builds, int warmup, std::optional<double> until_cv, int max_runs, double max_time,
                            std::vector<int> copies = {1}) {
    ptrun::Settings s;
    s.copies = std::move(copies);
    s.pts.assign(static_cast<std::size_t>(builds), "pt");
    s.order = builds > 1 ? "abba" : "single";
    s.warmup_rounds = warmup;
    s.until_cv = until_cv;
    s.max_runs = max_runs;
    s.max_time_s = max_time;
    return s;
}

}  // namespace

TEST(PtrunPlanner, InterleavesBuildsAndStopsWhenSteadyOrBounded) {
    const auto steady = [](std::size_t, int round) { return round == 1 ? 50.0 : 100.0 + round % 2; };
    const auto noisy_b = [](std::size_t build, int round) { return build == 1 && round % 2 ? 130.0 : 100.0; };
    struct Case {
        ptrun::Settings settings;
        std::function<double(std::size_t, int)> rate;
        double seconds;
        Outcome expected;
    };
    const std::vector<Case> cases = {
        {settings_of(2, 1, std::nullopt, 0, 0), steady, 1, {"abBAABBA", "planned rounds done"}},
        {settings_of(3, 0, std::nullopt, 0, 0), steady, 1, {"ABCCBAABC", "planned rounds done"}},
        // The wild warm-up round is left out of the spread: 101, 100, 101 is steady.
        {settings_of(1, 1, 1.0, 10, 0), steady, 1, {"aAAA", "cv 0.58 % at most 1 %"}},
        {settings_of(2, 0, 1.0, 5, 0), noisy_b, 1, {"ABBAABBAAB", "--max-runs reached, cv 13.93 % above 1 %"}},
        {settings_of(1, 0, 0.1, 0, 2.5), steady, 1, {"AAA", "--max-time reached"}},
        // Time out during the first copy count: the others are named, not skipped silently.
        {settings_of(1, 0, 0.1, 0, 2.5, {1, 2, 4}), steady, 1,
         {"AAA", "copies 1: --max-time reached; copy counts 2, 4: no rounds, --max-time reached first"}},
        {settings_of(1, 1, 1.0, 0, 4.5, {1, 2}), steady, 1,
         {"aAAAa", "copies 1: cv 0.58 % at most 1 %; copies 2: no rounds, --max-time reached first"}},
        // One or two rounds have no spread to speak of.
        {settings_of(1, 0, 0.001, 1, 0), steady, 1,
         {"A", "--max-runs reached after 1 round, too few to judge the spread (3 needed)"}},
        {settings_of(2, 0, 50.0, 2, 0), steady, 1,
         {"ABBA", "--max-runs reached after 2 rounds, too few to judge the spread (3 needed)"}},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Outcome got = simulate(cases[i].settings, cases[i].rate, cases[i].seconds);
        EXPECT_EQ(got.order, cases[i].expected.order) << i;
        EXPECT_EQ(got.stopped_because, cases[i].expected.stopped_because) << i;
    }

    // A shuffled order: every build once a round, the same again from the same seed.
    ptrun::Settings shuffled = settings_of(4, 0, std::nullopt, 0, 0);
    shuffled.order = "random";
    shuffled.runs = 6;
    shuffled.seed = 7;
    const std::string order = simulate(shuffled, steady).order;
    EXPECT_EQ(order, simulate(shuffled, steady).order);
    ASSERT_EQ(order.size(), 24u);
    for (std::size_t round = 0; round < 6; ++round) {
        std::string builds = order.substr(round * 4, 4);
        std::sort(builds.begin(), builds.end());
        EXPECT_EQ(builds, "ABCD") << order;
    }
    shuffled.seed = 8;
    EXPECT_NE(order, simulate(shuffled, steady).order);
}
