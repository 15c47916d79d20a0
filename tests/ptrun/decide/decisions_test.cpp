// The decisions on the figures: the gate at exactly its percentage, when a
// call is reportable, and which module carries a difference.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cmath>
#include <string>
#include <vector>

#include "ptrun/decide/analyse.h"
#include "ptrun/decide/compare.h"
#include "ptrun/decide/comparisons.h"
#include "ptrun/decide/gate.h"
#include "ptrun/model/writer.h"
#include "ptrun/results_by_hand.h"

namespace {

using Json = nlohmann::ordered_json;
using ptrun::Document;
using ptrun_tests::analysed;
using ptrun_tests::call;
using ptrun_tests::read;

ptrun::ComparisonEntry entry(double ratio, double estimate, double low, double high, ptrun::Verdict verdict) {
    ptrun::ComparisonEntry e;
    e.figures = {10, 10, 100, 100 * ratio, ratio, low, high, estimate, 0.95, 0.01, true, verdict, std::nullopt};
    return e;
}

TEST(PtrunGate, FailsOnlyBeyondThePercentageAndAgreesWithTheEstimate) {
    using ptrun::Gate;
    using ptrun::Verdict;
    // B a constant 6.1 % below A: the estimate and the whole interval at 0.939.
    Document doc = read(call("c1", "h", "h", {std::vector<double>(10, 1000), std::vector<double>(10, 939)}));
    ASSERT_EQ(doc.rounds.size() + doc.comparisons.size(), 0u);  // the reader leaves the figures to decide/
    ptrun::analyse(doc);
    const std::vector<ptrun::ComparisonEntry> exact = ptrun::compare_sides({&doc, "h", "A", "", nullptr},
                                                                          {&doc, "h", "B", "", nullptr});
    ASSERT_EQ(exact.size(), 1u);
    struct Case {
        ptrun::ComparisonEntry entry;
        double percent;
        bool strict;
        Gate expected;
    };
    const std::vector<Case> cases = {
        {exact[0], 6.1, false, Gate::pass},
        {exact[0], 6.1, true, Gate::pass},
        {exact[0], 6.0, false, Gate::fail},
        {exact[0], 6.0, true, Gate::fail},
        // Clustered rounds: the ratio of medians says faster, the test and its estimate slower.
        {entry(1.077, 0.9705, 0.970, 0.971, Verdict::slower), 2, false, Gate::fail},
        // The estimate beyond, the interval not wholly: only the usual form fails.
        {entry(0.97, 0.97, 0.95, 0.99, Verdict::slower), 2, false, Gate::fail},
        {entry(0.97, 0.97, 0.95, 0.99, Verdict::slower), 2, true, Gate::pass},
        {entry(0.97, 0.97, 0.95, 1.01, Verdict::no_difference), 2, false, Gate::pass},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(ptrun::gate(cases[i].entry.figures, cases[i].percent, cases[i].strict), cases[i].expected) << i;
    }
    ptrun::ComparisonEntry few = exact[0];
    few.figures.decidable = false;
    EXPECT_EQ(ptrun::gate(few.figures, 50, false), Gate::undecided);

    // Flagged rounds are counted per side, and can be left out.
    Json flagged = call("c1", "h", "h", {{10, 11, 12, 13, 14}, {10.5, 11.5, 12.5, 1, 2}});
    flagged["runs"][8]["flagged"] = flagged["runs"][9]["flagged"] = true;
    const Document with_flags = analysed(read(flagged));
    for (const bool exclude : {false, true}) {
        const auto got =
            ptrun::compare_sides({&with_flags, "h", "A", "", nullptr}, {&with_flags, "h", "B", "", nullptr}, exclude);
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(got[0].flagged_b, exclude ? 0 : 2);
        EXPECT_EQ(got[0].figures.n_b, exclude ? 3u : 5u);
    }
}

TEST(PtrunVerdict, ReportableOnlyWithEveryConditionMet) {
    Json quiet = Json::parse(R"({"schema_version": 2, "call_id": "c", "outcome": "completed",
        "host": {"id": "h", "hostname": "h"}, "machine": {"processor": "Test CPU", "environment": {}},
        "builds": [{"id": "A", "validated": true, "validation": "ok", "build": "b",
                    "build_info": {"version": "1.0", "compiler": "GCC", "compiler_version": "12.2.0", "flags": "-O2"}}],
        "runs": []})");
    for (const double score : {100.0, 120.0, 110.0}) {
        quiet["runs"].push_back({{"copies", 1}, {"round", quiet["runs"].size() + 1}, {"copy", 1}, {"score", score},
                                 {"environment_before", Json::object()}, {"environment_after", Json::object()}});
    }
    const Document fine = analysed(read(quiet));
    EXPECT_TRUE(fine.reportable_reasons.empty()) << fine.reportable_reasons.front();
    EXPECT_EQ(fine.citation, "pt 1.0: 110.0 work units/s (median of 3, CV 9.1 %), 1 copy, GCC 12.2.0 -O2, Test CPU");

    const std::vector<std::pair<std::function<void(Json&)>, std::string>> faults = {
        {[](Json& d) { d["runs"].erase(2); }, "1 copy: 2 rounds, fewer than 3"},
        {[](Json& d) { d["runs"][0]["flagged"] = true; }, "1 run flagged"},
        {[](Json& d) { d["builds"][0]["validated"] = false; }, "build A not validated: ok"},
        {[](Json& d) { d["runs"][1].erase("environment_after"); }, "environment was not recorded"},
        {[](Json& d) { d["machine"].erase("environment"); }, "environment was not recorded"},
        {[](Json& d) { d["machine"]["emulator"] = "qemu-user"; },
         "measured under an emulator (qemu-user): the scores say nothing of this machine"},
        {[](Json& d) { d["outcome"] = "interrupted"; }, "did not complete (interrupted)"},
        {[](Json& d) { d["settings"] = {{"runs", 3}, {"copies", {1, 2}}, {"cpus", {0, 1}}}; },
         "2 copies: no rounds outside warm-up"}};
    for (const auto& [fault, reason] : faults) {
        Json json = quiet;
        fault(json);
        const Document doc = analysed(read(json));
        std::string reasons;
        for (const std::string& r : doc.reportable_reasons) reasons += r + "\n";
        EXPECT_NE(reasons.find(reason), std::string::npos) << reasons;
        EXPECT_EQ(doc.citation->substr(doc.citation->size() - 16), "(not reportable)") << *doc.citation;
    }
}

}  // namespace

// A machine whose speed drifts 5 % while B runs 1 % slower than A in every
// round: the rounds of one call pair up and the paired test sees it; the same
// scores from two calls, a pair broken by leaving a flagged round out, or too
// few pairs, and the rank-sum test sees nothing.
TEST(PtrunCompare, PairsTheRoundsOfAnInterleavedCall) {
    std::vector<double> a, b;
    for (int r = 0; r < 8; ++r) {
        a.push_back(1000 * (1 + 0.05 * std::sin(r)));
        b.push_back(a.back() * (0.99 + 0.001 * (r % 3)));
    }
    Json flagged = call("c1", "h", "h", {a, b});
    flagged["runs"][12]["flagged"] = true;
    struct Case {
        std::vector<ptrun::Source> sources;
        bool exclude_flagged;
        std::size_t pairs;
        ptrun::Verdict verdict;
    };
    std::vector<Case> cases;
    cases.push_back({{{"ab.json", read(call("c1", "h", "h", {a, b}))}}, false, 8, ptrun::Verdict::slower});
    cases.push_back({{{"a.json", read(call("c1", "h", "h", {a}))}, {"b.json", read(call("c2", "h", "h", {b}))}},
                     false, 0, ptrun::Verdict::no_difference});
    cases.push_back({{{"ab.json", read(flagged)}}, true, 0, ptrun::Verdict::no_difference});
    const std::vector<double> a5(a.begin(), a.begin() + 5), b5(b.begin(), b.begin() + 5);
    cases.push_back({{{"ab.json", read(call("c1", "h", "h", {a5, b5}))}}, false, 0, ptrun::Verdict::no_difference});
    for (std::size_t i = 0; i < cases.size(); ++i) {
        std::string error;
        ptrun::CompareRequest request;
        request.exclude_flagged = cases[i].exclude_flagged;
        const std::optional<ptrun::Comparison> got = ptrun::compare_files(cases[i].sources, request, error);
        ASSERT_TRUE(got) << i << ": " << error;
        const ptrun::SampleComparison& figures = got->entries.at(0).figures;
        EXPECT_EQ(figures.pairs, cases[i].pairs) << i;
        EXPECT_EQ(figures.verdict, cases[i].verdict) << i << ": p " << figures.p_value;
        EXPECT_TRUE(figures.detectable_slowdown) << i;
    }
}

// Which module carries the difference: B's parse takes 20 % longer and runs
// as many instructions at more cycles each; the rest is A's time.
TEST(PtrunCompare, SaysWhichModuleCarriesTheDifference) {
    Json doc = call("c1", "h", "h", {std::vector<double>(6, 1000), std::vector<double>(6, 900)});
    const std::vector<std::string> modules = {"copy", "dates", "words", "parse", "library", "database"};
    for (std::size_t i = 0; i < doc["runs"].size(); ++i) {
        Json& run = doc["runs"][i];
        const bool b = run["build"] == "B";
        for (std::size_t m = 0; m < modules.size(); ++m) {
            const double ms = 0.1 * (m + 1) * (1 + 0.001 * static_cast<double>(i % 6));
            run["module_ms"][modules[m]] = modules[m] == "parse" && b ? ms * 1.2 : ms;
            run["module_counters"][modules[m]] = {{"instructions", 1e6}, {"cycles", b && m == 3 ? 3.6e6 : 3e6}};
        }
    }
    const Document analysed_doc = analysed(read(doc));
    ASSERT_EQ(analysed_doc.comparisons.size(), 1u);
    const std::vector<ptrun::ModuleComparison>& found = analysed_doc.comparisons[0].modules;
    ASSERT_EQ(found.size(), modules.size());
    for (const ptrun::ModuleComparison& m : found) {
        const bool parse = ptrun::kModuleNames[m.module] == std::string("parse");
        EXPECT_NEAR(m.figures.estimate, parse ? 1.2 : 1.0, 0.003) << m.module;
        EXPECT_NEAR(*m.share, parse ? 1.0 : 0.0, 1e-9) << m.module;
        EXPECT_EQ(*m.instructions_b, 1e6);
        EXPECT_NEAR(*m.cpi_b / *m.cpi_a, parse ? 1.2 : 1.0, 1e-12);
    }
    // Every one of the six pairs B slower: the least p of the paired test.
    EXPECT_EQ(found[3].figures.pairs, 6u);
    EXPECT_DOUBLE_EQ(found[3].figures.p_value, 2.0 / 64);
    const Json written = Json::parse(ptrun::dump(analysed_doc));
    EXPECT_EQ(written["comparison"][0]["modules"][3]["module"], "parse");
    EXPECT_NEAR(written["comparison"][0]["modules"][3]["share_of_difference"].get<double>(), 1.0, 1e-9);
}
