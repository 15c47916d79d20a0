// Change points over hand-made months of calls, and hosts' standing in their groups.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <numeric>
#include <regex>
#include <span>
#include <stdexcept>
#include <string_view>

#include "ptrun/decide/analyse.h"
#include "ptrun/decide/block_store.h"
#include "ptrun/decide/changepoint.h"
#include "ptrun/decide/standing.h"
#include "ptrun/model/merge.h"
#include "ptrun/model/reader.h"
#include "ptrun/model/writer.h"
#include "ptrun/present/formats.h"
#include "support/test_support.h"

namespace {

// 30 nightly calls of 3 rounds about 1000, spread about 2 % by a fixed
// pattern; calls from `step_at` on scaled by `step`, call `odd` by `odd_by`.
using Month = std::vector<ptrun::CallRounds>;

Month month(std::size_t step_at, double step, std::size_t odd = 99, double odd_by = 1) {
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

// One nightly call's results file: 3 rounds of month()'s call `night`;
// profiled, its dates module takes the longer the lower the score.
std::string call_file(const std::string& host, int night, const ptrun::CallRounds& rounds, bool updated,
                      bool profiled = false) {
    const std::string id = host + "-" + std::to_string(night);
    const nlohmann::json machine = {{"processor", "P"}, {"kernel", updated ? "6.1.0-21" : "6.1.0-18"},
                                    {"memory_bytes", updated ? 8ull << 30 : 16ull << 30}};
    nlohmann::json doc = {{"schema_version", 2}, {"call_id", id}, {"outcome", "completed"},
                          {"started_utc", "2026-11-" + std::to_string(10 + night) + "T02:00:00Z"},  // nights 0 to 20
                          {"host", {{"id", host}, {"hostname", host}}}, {"machine", machine},
                          {"hosts", {{{"id", host}, {"hostname", host}, {"machine", machine}}}},
                          {"builds", {{{"id", "A"}, {"path", "/opt/pt"}, {"sha256", "ab"}, {"validated", true}}}}};
    for (std::size_t r = 0; r < rounds.size(); ++r) {
        doc["runs"].push_back({{"copies", 1}, {"round", r + 1}, {"copy", 1}, {"score", rounds[r]}, {"call_id", id},
                               {"host", host}, {"build", "A"}});
        if (!profiled) continue;
        nlohmann::json& ms = doc["runs"].back()["module_ms"];
        for (const char* m : {"copy", "words", "parse", "library", "database"}) ms[m] = 10 + 0.01 * r;
        ms["dates"] = 1e5 / rounds[r];
    }
    return doc.dump();
}

// Host a, profiled, steps 5 % down with a new kernel and half the memory on
// night 18 of 21; host b does not, but its night 10 ran 20 % low on that
// kernel and memory; b's files are written twice when `twice` is given.
void write_nights(const std::string& dir, const std::string& twice = "") {
    const Month stepped = month(18, 0.95), steady = month(99, 1, 10, 0.8);
    for (const std::string& sub : {dir + "/a", dir + "/b", twice}) {
        if (!sub.empty()) std::filesystem::create_directories(sub);
    }
    for (int night = 0; night < 21; ++night) {
        const std::string name = "/" + std::to_string(night) + ".json";
        const std::string b = call_file("b", night, steady[night], night == 10);
        write_file(dir + "/a" + name, call_file("a", night, stepped[night], night >= 18, true));
        write_file(dir + "/b" + name, b);
        if (!twice.empty()) write_file(twice + name, b);
    }
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

// Every format shows all that was found, before and after a change is
// accepted: levels, the change with its cause and the module that moved,
// the outlier call, the acceptance, and the gate with what it compared.
// (Its name is the one the Windows run leaves out: it starts ptrun with
// an environment of its own.)
TEST(PtrunHistory, ReadsFoldersGatesOnTheNewestChangeAndNamesItsCause) {
    const TempDir dir;
    // The folders also hold a note, and host b's files twice, deeper down.
    write_nights(dir.path(), dir.file("b/copy/deeper"));
    write_file(dir.file("a/notes.txt"), "not results");
    // An A/A call: two builds at one path, two series.
    nlohmann::json twin = nlohmann::json::parse(call_file("c", 0, {1000, 1001, 999}, false));
    twin["builds"].push_back({{"id", "B"}, {"path", "/opt/pt"}, {"sha256", "cd"}, {"validated", true}});
    for (nlohmann::json run : nlohmann::json(twin["runs"])) {
        run["build"] = "B";
        twin["runs"].push_back(run);
    }
    std::filesystem::create_directories(dir.file("c"));
    write_file(dir.file("c/0.json"), twin.dump());
    struct Case {
        std::vector<std::string> args;
        int code;
        std::vector<std::string> out, err;  // patterns each must hold
        std::size_t charts = 0;
        std::vector<std::string> env = {};
    };
    const std::string cause = "kernel 6.1.0-18 -> 6.1.0-21; memory 16384 MiB -> 8192 MiB";
    const std::string a = "a, /opt/pt, 1 copy", first = "the first level, calls a-0 to a-17 \\(18 calls\\)";
    const std::string newest = "the newest level, calls a-18 to a-20 \\(3 calls\\)";
    const std::vector<Case> cases = {
        {{"--format", "json"},
         0,
         {R"("call_id": "a-18",\s+"started_utc": "2026-11-28T02:00:00Z",\s+"estimate": 0\.9[45])",
          R"("what": "kernel",\s+"before": "6.1.0-18",\s+"after": "6.1.0-21")", R"("calls_read_twice": 21)",
          R"("file": "[^"]*a/notes.txt")", R"("build_id": "A")",
          R"("levels": \[\s+\{\s+"first_call": "a-0",\s+"last_call": "a-17",\s+"calls": 18,\s+"median": 1\d\d\d)",
          R"("modules_moved": \[\s+\{\s+"module": "dates",\s+"estimate": 1\.05)",
          R"("outlier_calls": \[\s+\{\s+"call_id": "b-10",[^\]]+"ratio_to_level": 0\.[78]\d*,)"
          R"(\s+"differences": \[\s+\{\s+"what": "kernel")",
          R"("accepted": null)", R"("gate": null)"},
         {"skipped: .*notes.txt"}},
        {{"--fail-above", "2"}, 1,
         {"# ptrun history", cause,
          "- \\*\\*gate\\*\\*: FAIL \\(fails beyond 2\\.0 % slower\\): " + newest + ", against " + first +
              ": slower by 5\\.\\d % .*" + cause,
          "\\| a-18 \\| 2026-11-28T02:00:00Z \\| a-20 \\| 3 \\| 9\\d\\d\\.\\d\\d \\|",
          "\\| b-10 \\| 2026-11-20T02:00:00Z \\| -(19|2\\d)\\.\\d % \\| " + cause + " \\|",
          "\\| " + cause + " \\| dates \\+5\\.\\d % \\(1\\.0\\d+ to 1\\.\\d+\\) \\| no \\|"},
         {"gate failed: " + a + ": the level from call a-18 .* against " + first + ": slower by 5\\.\\d % .*" + cause}},
        {{"--fail-above-strict", "2", "--format", "table"}, 1,
         {"change -5\\.\\d % from call a-18", "level a-0 to a-17 \\(18 calls\\): median 1\\d\\d\\d",
          "modules moved: dates \\+5\\.",
          "outlier call b-10 \\(2026-11-20T02:00:00Z\\): -(19|2\\d)\\.\\d % against its level",
          "gate FAIL \\(fails beyond 2\\.0 % slower, the whole interval\\): " + newest},
         {"gate failed: a,"}},
        {{"--fail-above", "8", "--format", "csv"}, 0,
         {"\r\nb,/opt/pt,A,1,b-20,[^\r]*,1,1\\d\\d\\d\\.\\d+,,,(,){10}pass,8\\.0+,b-0,b-20,,,,nothing recorded "
          "differs\r",
          "\r\nb,/opt/pt,A,1,b-10,[^\r]*,0\\.[78]\\d+,\"?" + cause + "\"?,",
          "\r\na,/opt/pt,A,1,a-18,[^\r]*,2,9\\d\\d\\.\\d+,,,0\\.9[45]\\d+,.*,\"?dates \\+5\\.\\d % "},
         {"gate passed"}},
        {{"--format", "html"}, 0,
         {"<title>ptrun history</title>", "-5\\.\\d %</text>", "-(19|2\\d)\\.\\d %</text>", ">change point</text>",
          ">outlier call</text>", ">2026-11-\\d\\d</text>", "Hosts of a kind: P, "},
         {}, 3},
        {{dir.file("c"), "--format", "table"},
         0,
         {"\nc, /opt/pt, 1 copy: 1 call", "\nc, /opt/pt \\(B\\), 1 copy: 1 call"},
         {}},
        {{"--format", "pdf"}, 2, {}, {"bad --format"}},
        {{"--fail-above", "2", "--fail-above-strict", "2"}, 2, {}, {"give one"}},
        {{"--accept", a, "--at", "a-18", "--reason", "the new kernel, ticket 7"}, 2, {}, {"--by NAME"}, 0,
         {"LOGNAME", "USERNAME"}},
        {{"--accept", a, "--at", "a-", "--reason", "r", "--by", "x"}, 2, {}, {"more than one call begins \"a-\""}},
        // Accepted, the change is the baseline: the gate passes from now on.
        {{"--accept", a, "--at", "a-18", "--reason", "the new kernel, ticket 7", "--by", "alice", "--fail-above", "2",
          "--format", "table"},
         0,
         {"change from call a-18 accepted by alice at 20\\d\\d-\\d\\d-\\d\\dT[0-9:]+Z: the new kernel, ticket 7",
          "gate pass .*: the newest level is the baseline, the level accepted from call a-18"},
         {"accepted: " + a + " from call a-18, in .*accepted-changes.txt", "gate passed"}},
        {{"--fail-above", "2"}, 0,
         {"\\| a-18 \\| alice \\| 20[-0-9T:]+Z \\| the new kernel, ticket 7 \\| -5\\.\\d % from call a-18 \\|",
          "\\| dates \\+5\\.\\d % [^|]+\\| accepted by alice at [^|]+: the new kernel, ticket 7 \\|"},
         {}},
        {{"--format", "csv"}, 0, {"\r\na,/opt/pt,A,1,a-18,.*,alice,20[-0-9T:]+Z,\"the new kernel, ticket 7\",,"}, {}},
        {{"--format", "json"}, 0,
         {R"("accepted": \{\s+"first_call": "a-18",\s+"accepted_by": "alice")",
          R"("accepted_changes": \[\s+\{\s+"first_call": "a-18",\s+"accepted_by": "alice")"},
         {}},
        {{"--format", "html"}, 0, {">accepted change</text>", "<td>alice</td>"}, {}, 3},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"history", dir.file("a"), dir.file("b")};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const ChildResult child = run_child(PTRUN_BINARY, args, dir.path(), c.env);
        EXPECT_EQ(child.exit_code, c.code) << c.args[0] << child.err;
        for (const std::string& p : c.out) EXPECT_TRUE(std::regex_search(child.out, std::regex(p))) << p << child.out;
        for (const std::string& p : c.err) EXPECT_TRUE(std::regex_search(child.err, std::regex(p))) << p << child.err;
        std::size_t charts = 0;
        for (std::size_t at = child.out.find("<svg"); at != std::string::npos; at = child.out.find("<svg", at + 1)) {
            ++charts;
        }
        EXPECT_EQ(charts, c.charts) << c.args[0];
    }
    // Nothing to read is bad input, and so is a name that is not there.
    EXPECT_EQ(run_child(PTRUN_BINARY, {"history", dir.file("a/notes.txt")}, dir.path()).exit_code, 2);
    EXPECT_EQ(run_child(PTRUN_BINARY, {"history", dir.file("none")}, dir.path()).exit_code, 2);
}

TEST(PtrunHistory, TheNightlyRecipeKeepsEveryNightAndFailsWithTheGate) {
    const TempDir dir;
    write_file(dir.file("plan"), "100\n101\n99\n");
    const std::vector<std::string> env = {"PTRUN=" PTRUN_BINARY, "PTRUN_RESULTS_DIR=" + dir.file("nightly"),
                                          "PTRUN_LABEL=here", "PT_STAND_IN_PLAN=" + dir.file("plan")};
    const std::vector<std::string> args = {PT_MANUALS "/../contrib/nightly/ptrun-nightly.sh", "--pt", STAND_IN_PT,
                                           "--runs", "3"};
    ChildResult night = run_child("/bin/bash", args, dir.path(), env);
    EXPECT_EQ(night.exit_code, 0) << night.err;
    EXPECT_NE(night.out.find("here, " STAND_IN_PT ", 1 copy: 1 call,"), std::string::npos) << night.out;
    // The nights before it, among them a host that slowed down: the next night fails.
    write_nights(dir.file("nightly/results"));
    night = run_child("/bin/bash", args, dir.path(), env);
    EXPECT_EQ(night.exit_code, 1) << night.err;
    EXPECT_NE(night.err.find("gate failed: a, /opt/pt, 1 copy"), std::string::npos) << night.err;
    std::size_t kept = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.file("nightly/results"))) {
        kept += entry.path().filename().string().rfind("here-", 0) == 0 ? 1 : 0;
    }
    EXPECT_EQ(kept, 2u);
    EXPECT_NE(read_file(dir.file("nightly/history.html")).find("<svg"), std::string::npos);
}

TEST(PtrunHistory, EveryReportFormatMarksTheHostSlowForItsKind) {
    // Five hosts of one processor and build line, the last 10 % slow.
    std::vector<ptrun::Source> sources;
    for (int h = 0; h < 5; ++h) {
        const double scale = h == 4 ? 0.9 : 1 + 0.002 * h;
        std::string error;
        const std::string name = "h" + std::to_string(h);
        auto doc = ptrun::parse_results(call_file(name, h, {1000 * scale, 1001 * scale, 999 * scale}, false), name,
                                        error);
        ASSERT_TRUE(doc) << error;
        sources.push_back({name, *doc});
    }
    ptrun::Document merged = ptrun::merge_documents(sources);
    ptrun::analyse(merged);
    const auto hosts = nlohmann::json::parse(ptrun::dump(merged))["hosts"];
    ASSERT_EQ(hosts.size(), 5u);
    for (std::size_t h = 0; h < hosts.size(); ++h) {
        const auto& standing = hosts[h]["standing"].at(0);
        EXPECT_EQ(standing["group_size"], 5) << h;
        EXPECT_EQ(standing["outlier"], h == 4) << h;
        EXPECT_DOUBLE_EQ(standing["percentile"].get<double>(), h == 4 ? 10 : 30 + 20 * static_cast<double>(h)) << h;
    }
    for (const auto& [format, mark] : std::vector<std::pair<std::string, std::string>>{
             {"md", "| h4 | A | 1 | 900.00 | 5 | 10 | 0.898 | slow for its kind |"},
             {"table", "percentile  10 of 5  0.898 of their median  SLOW FOR ITS KIND"},
             {"csv", ",10,true,"},
             {"html", "<td>slow for its kind</td>"}}) {
        const std::string text = ptrun::find_format(format)->report(merged);
        EXPECT_NE(text.find(mark), std::string::npos) << format << text;
    }
}

// What history keeps of each call until it is finished: every run kept
// stays whole however many blocks follow, at a block's end, over it, or empty.
TEST(PtrunHistory, KeptRunsStayWholeAcrossBlocks) {
    ptrun::BlockStore<double> store;
    const std::size_t block = ptrun::BlockStore<double>::kBlockValues;
    std::vector<std::vector<double>> runs;
    std::vector<std::span<const double>> kept;
    for (const std::size_t size : {std::size_t{3}, block - 2, std::size_t{3}, block + 1, std::size_t{1}, block,
                                   std::size_t{0}, std::size_t{2}}) {
        std::vector<double>& run = runs.emplace_back(size);
        std::iota(run.begin(), run.end(), 1e7 * static_cast<double>(runs.size()));
        kept.push_back(store.keep(run));
    }
    for (std::size_t i = 0; i < runs.size(); ++i) {
        EXPECT_TRUE(std::equal(kept[i].begin(), kept[i].end(), runs[i].begin(), runs[i].end())) << i;
    }
    ptrun::BlockStore<char> texts;
    const std::string_view text = texts.keep_text("2026-11-28T02:00:00Z");
    texts.keep_text(std::string(block, 'x'));
    EXPECT_EQ(text, "2026-11-28T02:00:00Z");
}
