// The results document's one reader, merge identity and the gate, on
// hand-made files: hostile input, builds that are one binary, a call read
// twice or changed, and slowdowns at exactly the gate's percentage.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "ptrun/decide/analyse.h"
#include "ptrun/decide/comparisons.h"
#include "ptrun/decide/gate.h"
#include "ptrun/model/merge.h"
#include "ptrun/model/reader.h"
#include "ptrun/model/writer.h"

namespace {

using Json = nlohmann::ordered_json;
using ptrun::Document;

// One call on host `host` with a build per entry of `scores`, each with a
// round per score (one copy), and a builds list naming the same binary.
Json call(const std::string& id, const std::string& host, const std::string& hostname,
          const std::vector<std::vector<double>>& scores) {
    Json doc = {{"schema_version", 2}, {"call_id", id}, {"outcome", "completed"},
                {"host", {{"id", host}, {"hostname", hostname}}}, {"runs", Json::array()}};
    doc["hosts"] = {{{"id", host}, {"hostname", hostname}, {"machine", {{"processor", "P " + hostname}}}}};
    for (std::size_t b = 0; b < scores.size(); ++b) {
        const std::string build(1, static_cast<char>('A' + b));
        doc["builds"].push_back({{"id", build}, {"path", "/pt"}, {"sha256", "same"}, {"validated", true}});
        for (std::size_t r = 0; r < scores[b].size(); ++r) {
            doc["runs"].push_back({{"copies", 1}, {"round", r + 1}, {"copy", 1}, {"score", scores[b][r]},
                                   {"call_id", id}, {"host", host}, {"build", build}});
        }
    }
    return doc;
}

Document read(const Json& doc, const std::string& name = "test.json") {
    std::string error;
    std::optional<Document> parsed = ptrun::parse_results(doc.dump(), name, error);
    EXPECT_TRUE(parsed) << error;
    return parsed.value_or(Document{});
}

Document analysed(Document doc) {
    ptrun::analyse(doc);
    return doc;
}

TEST(PtrunReader, RefusesBadInputNamingTheFileAndTheField) {
    const Json older = {{"outcome", "completed"}, {"machine", {{"processor", "Q"}}},
                        {"pt", {{"path", "/pt"}, {"build", "unknown"}}},
                        {"runs", {{{"copies", 1}, {"round", 1}, {"copy", 1}, {"score", 5}}}}};
    auto with = [](Json doc, const Json::json_pointer& at, const Json& value) {
        doc[at] = value;
        return doc.dump();
    };
    const Json two = call("c1", "h", "h", {{10, 11}});
    // A merged file, whose calls say which of its builds each call ran.
    const Json merged = Json::parse(ptrun::dump(ptrun::merge_documents(
        {{"1", read(call("c1", "h", "h", {{10}, {11}}))}, {"2", read(call("c2", "g", "g", {{12}}))}})));
    auto without = [](Json doc, const Json::json_pointer& at) {
        doc[at.parent_pointer()].erase(at.back());
        return doc.dump();
    };
    Json summed = call("c1", "h", "h", {{1e308}});
    summed["runs"][0]["copies"] = 2;
    summed["runs"].push_back(summed["runs"][0]);
    summed["runs"][1]["copy"] = 2;
    // A run's profile: every module, times and counts of at least 0, no other name.
    const Json times = {{"copy", 1}, {"dates", 2}, {"words", 3}, {"parse", 4}, {"library", 5}, {"database", 6}};
    Json counters;
    for (const auto& [module, ms] : times.items()) counters[module] = {{"instructions", 1}, {"cycles", nullptr}};
    const auto profiled = [&](const char* field, const Json& value, const Json::json_pointer& at, const Json& bad) {
        Json doc = two;
        doc["runs"][0][field] = value;
        doc["runs"][0][field][at] = bad;
        return doc.dump();
    };
    const std::vector<std::pair<std::string, std::string>> cases = {
        {profiled("module_ms", times, "/dates"_json_pointer, nullptr),
         "runs[0].module_ms.dates: not a number of at least 0"},
        {profiled("module_ms", times, "/words"_json_pointer, -1),
         "runs[0].module_ms.words: not a number of at least 0"},
        {profiled("module_ms", times, "/zip"_json_pointer, 1), "runs[0].module_ms.zip: not a module of the work unit"},
        {profiled("module_counters", counters, "/dates"_json_pointer, nullptr),
         "runs[0].module_counters.dates: missing"},
        {profiled("module_counters", counters, "/parse/cycles"_json_pointer, -5),
         "runs[0].module_counters.parse.cycles: not a number of at least 0"},
        {profiled("module_counters", counters, "/copy/misses"_json_pointer, 1),
         "runs[0].module_counters.copy.misses: not a counted event"},
        {with(older, "/pt"_json_pointer, "x"), "pt: not an object"},
        {with(older, "/pt/build"_json_pointer, 7), "pt.build: not a text"},
        {with(older, "/runs/0/flagged"_json_pointer, "yes"), "runs[0].flagged: not true or false"},
        {with(older, "/runs/0/copy"_json_pointer, 2), "runs[0].copy: not from 1 to 1"},
        {with(two, "/runs/1/score"_json_pointer, 0), "runs[1].score: not a number above 0"},
        {with(two, "/runs/1/score"_json_pointer, -3), "runs[1].score: not a number above 0"},
        {with(two, "/runs/1/host"_json_pointer, "elsewhere"), "runs[1].host: no host elsewhere in hosts"},
        {with(two, "/hosts/0/machine/environment/cpus/0/cpu"_json_pointer, "0"),
         "hosts[0].machine.environment.cpus[0].cpu: not a whole number"},
        {with(two, "/outcome"_json_pointer, "no results"), "no_results_reason: not a text"},
        {summed.dump(), "runs: the scores of round 1 of 2 copies sum to more than a number can hold"},
        {std::string(100000, '[') + std::string(100000, ']'), "nested deeper than 64 levels"},
        {with(two, "/builds/0/path_hex"_json_pointer, "2f7"), "builds[0].path_hex: not pairs of hex digits"},
        {without(merged, "/calls/0/recorded_builds"_json_pointer), "calls[0].recorded_builds: missing"},
        {with(merged, "/calls"_json_pointer, Json::array()), "calls: no call"},
        {with(merged, "/calls/0/recorded_builds"_json_pointer, Json::object({{"A", "Z"}})),
         "calls[0].recorded_builds.A: no build Z in builds"},
        {with(merged, "/calls/0/recorded_builds"_json_pointer, Json::object({{"A", "B"}})),
         "runs[0].build: A is not among the recorded builds of call c1"},
    };
    for (const auto& [text, message] : cases) {
        std::string error;
        EXPECT_FALSE(ptrun::parse_results(text, "f.json", error)) << message;
        EXPECT_EQ(error, "f.json is not a ptrun results file: " + message);
    }
}

// Whether a field may be absent from a written object: it holds what the
// reader takes for it when absent (null, 0, false or empty; flagged: low_share
// or speed_changed). The written file read and written again shows the rest.
bool may_leave_out(const Json& object, const std::string& name, const Json& value) {
    if (name == "flagged") return value == (object.value("low_share", false) || object.value("speed_changed", false));
    return value.is_null() || value == false || value == 0 || value == "" || (value.is_structured() && value.empty());
}

// Where `written` does not keep what `read` says, or nothing: every field of
// read is in written with the same value (or left out at its default), but
// the figures that are always computed anew.
std::optional<std::string> lost(const Json& read, const Json& written, const std::string& at) {
    static const std::set<std::string> computed = {"rounds", "summary", "flagged_runs", "comparison",
                                                   "reportable", "reportable_reasons", "citation"};
    if (read.is_object() && written.is_object()) {
        for (const auto& [name, value] : read.items()) {
            if (at.empty() && computed.count(name)) continue;
            if (!written.contains(name) && may_leave_out(read, name, value)) continue;
            // A file of an earlier schema is written in the current one.
            if (at.empty() && name == "schema_version" && written[name] == ptrun::kSchemaVersion) continue;
            if (!written.contains(name)) return at + "." + name + ": missing";
            if (auto where = lost(value, written[name], at + "." + name)) return where;
        }
        return std::nullopt;
    }
    if (read.is_array() && written.is_array() && read.size() == written.size()) {
        for (std::size_t i = 0; i < read.size(); ++i) {
            if (auto where = lost(read[i], written[i], at + "[" + std::to_string(i) + "]")) return where;
        }
        return std::nullopt;
    }
    if (read.is_number() && written.is_number() && read.get<double>() == written.get<double>()) return std::nullopt;
    if (read == written) return std::nullopt;
    return at + ": " + read.dump() + " written as " + written.dump();
}

// The fuzz target's seeds and every input it ever crashed on: seeds named
// valid-* are real files and read, and written back keep every field; the
// rest read or are refused with a message, and what is read writes, and
// reads back as what writes the same text again.
TEST(PtrunReader, ReadsEveryFuzzInput) {
    std::size_t valid = 0;
    for (const char* folder : {"/corpus", "/crashes"}) {
        for (const auto& entry : std::filesystem::directory_iterator(std::string(PT_FUZZ_INPUTS) + folder)) {
            const std::string name = entry.path().filename().string();
            std::ifstream in(entry.path(), std::ios::binary);
            const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            std::string error;
            const std::optional<Document> doc = ptrun::parse_results(text, name, error);
            if (name.rfind("valid-", 0) == 0) {
                ++valid;
                ASSERT_TRUE(doc) << error;
                EXPECT_EQ(lost(Json::parse(text), Json::parse(ptrun::dump(*doc)), ""), std::nullopt) << name;
            }
            EXPECT_TRUE(doc || error.rfind(name, 0) == 0) << name;
            if (doc) {
                const std::optional<Document> again = ptrun::parse_results(ptrun::dump(*doc), name, error);
                ASSERT_TRUE(again) << error;
                EXPECT_EQ(ptrun::dump(*again), ptrun::dump(*doc)) << name;
            }
        }
    }
    EXPECT_GE(valid, 4u);
}

TEST(PtrunMerge, IdentifiesRunsByCallAndRecordedBuildAndStaysIdempotent) {
    // Two builds of one call that are the same binary stay two builds.
    Json same_binary = call("c1", "localhost", "one", {{10, 11, 12}, {20, 21, 22}});
    // B's rounds ran first (as after an odd number of warm-up rounds): A stays the reference.
    std::reverse(same_binary["runs"].begin(), same_binary["runs"].end());
    // A second machine that calls itself localhost too, so its host is renamed.
    const Json other_machine = call("c2", "localhost", "two", {{30, 31, 32}});
    Json changed = other_machine;
    changed["runs"][2]["score"] = 99;
    const Document first = read(same_binary), second = read(other_machine);
    const Document merged = analysed(ptrun::merge_documents({{"1.json", first}, {"2.json", second}}));
    // The second call's build is described exactly as the first's A: one build.
    ASSERT_EQ(merged.builds.size(), 2u);
    EXPECT_EQ(merged.summary.size(), 3u);
    EXPECT_EQ(merged.hosts.at(1).id, "localhost-2");
    // The call's own comparison, and the second host's A against the first host's, over every call.
    ASSERT_EQ(merged.comparisons.size(), 2u);
    EXPECT_EQ(merged.comparisons[0].figures.n_b, 3u);
    EXPECT_EQ(merged.comparisons[1].call_id + merged.comparisons[1].b_host, "localhost-2");
    EXPECT_EQ(merged.summary[0].build + merged.comparisons[0].a + merged.comparisons[0].b, "AAB");

    // A file of the first schema re-laid out (keys in another order, other spacing) is the same call.
    const Json older = {{"outcome", "completed"}, {"machine", {{"processor", "Q"}}}, {"pt", {{"path", "/pt"}}},
                        {"runs", {{{"copies", 1}, {"round", 1}, {"copy", 1}, {"score", 5.5}}}}};
    const std::string relaid = "{\"runs\":[{\"score\":5.50, \"copy\":1,\"round\":1,\"copies\":1}],\n \"pt\": "
                               "{\"path\": \"/pt\"}, \"machine\":{\"processor\":\"Q\"},\"outcome\":\"completed\"}";
    const Document old = read(older), old_merged = analysed(ptrun::merge_documents({{"old.json", old}}));
    // One file that holds a run twice: counted once, and refused where the two differ.
    Json twice = other_machine;
    twice["runs"].push_back(twice["runs"][2]);
    const Document second_merged = analysed(ptrun::merge_documents({{"2.json", second}}));
    twice["runs"][3]["score"] = 99;
    try {
        ptrun::merge_documents({{"2.json", read(twice)}});
        ADD_FAILURE() << "a run held twice with different scores merged";
    } catch (const ptrun::MergeConflict& e) {
        EXPECT_STREQ(e.what(), "2.json holds copy 1 of round 3 of call c2 twice, with different contents");
    }
    twice["runs"][3]["score"] = 32;
    struct Case {
        std::vector<ptrun::Source> sources;
        std::size_t runs, duplicates;
        const Document& same_as;
    };
    const std::vector<Case> cases = {
        {{{"m.json", merged}, {"2.json", second}}, 9, 3, merged},
        {{{"m.json", merged}, {"m.json", merged}}, 9, 9, merged},
        {{{"m.json", merged}, {"1.json", first}, {"2.json", second}}, 9, 9, merged},
        {{{"old.json", old}, {"relaid.json", read(Json::parse(relaid))}}, 1, 1, old_merged},
        {{{"2.json", read(twice)}}, 3, 1, second_merged},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        ptrun::MergeCount count;
        const Document again = analysed(ptrun::merge_documents(cases[i].sources, &count));
        EXPECT_EQ(count.runs, cases[i].runs) << i;
        EXPECT_EQ(count.duplicates, cases[i].duplicates) << i;
        EXPECT_EQ(ptrun::dump(again), ptrun::dump(cases[i].same_as)) << i;
    }
}

// One call id with other contents is no duplicate, whichever file comes first:
// both files are named and what differs.
TEST(PtrunMerge, RefusesOneCallWithOtherContentsInEitherOrder) {
    const Json original = call("c2", "localhost", "two", {{30, 31, 32}});
    auto with = [&original](const Json::json_pointer& at, const Json& value) {
        Json doc = original;
        doc[at] = value;
        return read(doc);
    };
    const std::vector<std::pair<Document, std::string>> cases = {
        {with("/runs/2/score"_json_pointer, 99), "with different runs"},
        {with("/builds/0/sha256"_json_pointer, "other"),
         "with different builds (path, sha256, build line or validation)"},
        {with("/hosts/0/machine/processor"_json_pointer, "P other"),
         "on different hosts (hostname, processor, kernel or memory)"},
        {with("/started_utc"_json_pointer, "2026-01-01T00:00:00Z"), "with a different outcome or start"},
    };
    const Document one = ptrun::merge_documents({{"1.json", read(original)}});
    for (const auto& [changed, what] : cases) {
        for (const bool changed_first : {false, true}) {
            std::vector<ptrun::Source> sources = {{"m.json", one}, {"changed.json", changed}};
            if (changed_first) std::swap(sources[0], sources[1]);
            try {
                ptrun::merge_documents(sources);
                ADD_FAILURE() << "a changed call merged: " << what;
            } catch (const ptrun::MergeConflict& e) {
                EXPECT_EQ(e.what(), "call c2 is in " + sources[0].file + " and in " + sources[1].file + " " + what);
            }
        }
    }
}

ptrun::ComparisonEntry entry(double ratio, double estimate, double low, double high, ptrun::Verdict verdict) {
    ptrun::ComparisonEntry e;
    e.figures = {10, 10, 100, 100 * ratio, ratio, low, high, estimate, 0.95, 0.01, true, verdict};
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
    EXPECT_LT(found[3].figures.p_value, 0.01);
    const Json written = Json::parse(ptrun::dump(analysed_doc));
    EXPECT_EQ(written["comparison"][0]["modules"][3]["module"], "parse");
    EXPECT_NEAR(written["comparison"][0]["modules"][3]["share_of_difference"].get<double>(), 1.0, 1e-9);
}
