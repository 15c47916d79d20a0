// The results document's one reader and merge identity, on hand-made files:
// hostile input, builds that are one binary, a call read twice or changed.
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
#include "ptrun/results_by_hand.h"

namespace {

using Json = nlohmann::ordered_json;
using ptrun::Document;
using ptrun_tests::analysed;
using ptrun_tests::call;
using ptrun_tests::read;


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
         "on different hosts (hostname, processor, kernel, memory or the settings it ran under)"},
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

}  // namespace
