// The per-module profile: what it attributes to each module, what it says
// when counters cannot be had, and that it does the very work of pt's run.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <regex>
#include <string>

#include "driver/profile.h"

namespace {

// A clock that moves 500 ns at every reading.
std::uint64_t fake_now = 0;
std::uint64_t fake_clock() { return fake_now += 500; }

// Counters that count (block + 1) * (event + 1) in the block-th module's
// block of every unit, while enabled; the events and the final verdict the
// test sets.
struct FakeCounters {
    bool available[kCounterEventCount];
    const char* reason;
    bool on_processor;
    bool enabled;
    std::uint64_t blocks;
    CounterReading reading;
} fake;

const CounterSource kFakeCounters = {
    [](CounterOpening& opening) {
        for (std::size_t event = 0; event < kCounterEventCount; ++event) {
            opening.available[event] = fake.available[event];
            std::snprintf(opening.reason[event], sizeof opening.reason[event], "%s", fake.reason);
        }
    },
    [] { fake.enabled = true; },
    [] {
        if (!fake.enabled) return;
        for (std::size_t event = 0; event < kCounterEventCount; ++event) {
            if (fake.available[event]) fake.reading.value[event] += (fake.blocks % kWorkStepCount + 1) * (event + 1);
        }
        ++fake.blocks;
        fake.enabled = false;
    },
    [] {
        CounterReading reading = fake.reading;
        reading.on_processor = fake.on_processor;
        return reading;
    },
    [] {},
};

Profile profile_with(bool all, bool itlb, bool on_processor, const char* reason, std::int64_t units,
                     std::uint64_t budget_ns = 0) {
    fake = FakeCounters{{all, all, all, all, itlb}, reason, on_processor, false, 0, CounterReading{{}, on_processor}};
    return profile_work_units(ProfileSettings{1, units, budget_ns, fake_clock, &kFakeCounters});
}

std::string field(const std::string& json, const std::string& name) {
    const std::size_t at = json.find("\"" + name + "\":");
    return at == std::string::npos ? "" : json.substr(at + name.size() + 3, json.find_first_of(",}", at) - at -
                                                                                  name.size() - 3);
}

}  // namespace

TEST(ModuleProfile, AttributesTimeAndCountsToEachModulePerUnit) {
    // The thread has had the processor half the time.
    set_thread_times_source([] {
        static std::uint64_t reading = 0;
        ++reading;
        return ThreadTimes{reading * 2000, reading * 1000, 0};
    });
    const Profile profile = profile_with(true, true, true, "", 3);
    set_thread_times_source(nullptr);
    ASSERT_EQ(profile.units, 3);
    const std::string json = profile_json(profile, "test \"build\"\n");
    EXPECT_NE(json.find("\"build\":\"test \\\"build\\\"\\u000a\""), std::string::npos) << json;
    EXPECT_EQ(field(json, "unit_ms"), "0.003");  // six blocks of 500 ns
    EXPECT_EQ(field(json, "dates"), "0.0005");
    EXPECT_EQ(field(json, "counters_unavailable"), "null");
    EXPECT_EQ(field(json, "processor_share"), "0.5000");
    // parse is the fourth block: 4 per unit of the first event, 20 of the fifth.
    EXPECT_NE(json.find("\"parse\":{\"instructions\":4.0,\"cycles\":8.0,\"branch_misses\":12.0,\"l1i_misses\":16.0,"
                        "\"itlb_misses\":20.0}"),
              std::string::npos)
        << json;
}

TEST(ModuleProfile, EventsThatCannotBeHadAreNullWithTheReasonNeverZero) {
    struct Case {
        bool all, itlb, on_processor;
        const char* counters;  // the start of module_counters
        const char* reason;    // the start of counters_unavailable
    };
    const Case cases[] = {
        {false, false, true, "null", "\"instructions, cycles, branch_misses, l1i_misses, itlb_misses: no PMU"},
        {true, false, true, "{\"copy\":{\"instructions\":1.0,\"cycles\":2.0,\"branch_misses\":3.0,\"l1i_misses\":4.0,"
                            "\"itlb_misses\":null}", "\"itlb_misses: no PMU"},
        {true, true, false, "null", "\"the kernel took the counters off the processor"},
    };
    for (const Case& c : cases) {
        const std::string json = profile_json(profile_with(c.all, c.itlb, c.on_processor, "no PMU", 2), "b");
        const std::size_t counters = json.find("\"module_counters\":") + 18;
        EXPECT_EQ(json.compare(counters, std::strlen(c.counters), c.counters), 0) << json;
        EXPECT_NE(json.find(std::string("\"counters_unavailable\":") + c.reason), std::string::npos) << json;
        EXPECT_FALSE(std::regex_search(json, std::regex(":0(\\.0*)?[,}]"))) << json;
    }
}

TEST(ModuleProfile, StopsAtTheUnitsOrTheBudgetAfterAtLeastOneUnit) {
    // Every unit reads the clock 13 times: 6500 fake nanoseconds.
    const struct {
        std::int64_t units;
        std::uint64_t budget_ns;
        std::int64_t ran;
    } cases[] = {{4, 0, 4}, {4, 10000, 2}, {4, 1, 1}, {1, 100000, 1}};
    for (const auto& c : cases) {
        EXPECT_EQ(profile_with(false, false, true, "none", c.units, c.budget_ns).units, c.ran) << c.budget_ns;
    }
}

// Only where the kernel gives this program the processor's counters.
TEST(ModuleProfile, CountsWithTheProcessorsCountersWhereThereAreAny) {
    CounterOpening opening{};
    hardware_counters().open(opening);
    hardware_counters().close();
    if (!opening.available[kInstructionsEvent]) GTEST_SKIP() << opening.reason[kInstructionsEvent];
    const Profile profile = profile_work_units(ProfileSettings{1, 1, 0, monotonic_ns, &hardware_counters()});
    for (std::size_t step = 0; step < kWorkStepCount; ++step) {
        EXPECT_GT(profile.module_counts[step][kInstructionsEvent], kWorkSteps[step].calls_per_unit);
    }
}
