// The workload's first run is deterministic, so the digest of the whole
// workload state after the set-up and after each work unit is a fixed value.
// Any change in what any module computes changes these pins.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "driver/pinned_digests.h"
#include "driver/state_dump.h"
#include "support/test_support.h"

namespace {

// The text of a flat JSON member's value, as written.
std::string json_field(const std::string& json, const std::string& name) {
    const std::size_t at = json.find("\"" + name + "\":");
    if (at == std::string::npos) return "";
    const std::size_t from = at + name.size() + 3;
    return json.substr(from, json.find_first_of(",}", from) - from);
}

}  // namespace

TEST(Verify, DigestsOfTheFirstRunArePinned) {
    TempDir dir;
    const ChildResult child = run_child(PTVERIFY_BINARY, {"--units", std::to_string(kPinnedUnits)}, dir.path());
    ASSERT_EQ(child.exit_code, 0) << child.err;
    EXPECT_EQ(child.out, kPinnedDigests);
}

TEST(Verify, DumpHoldsOneFramePerPointWithTheDocumentedLayout) {
    TempDir dir;
    const ChildResult child = run_child(PTVERIFY_BINARY, {"--units", "2", "--dump", "state.bin"}, dir.path());
    ASSERT_EQ(child.exit_code, 0) << child.err;
    const std::string dump = read_file(dir.file("state.bin"));
    ASSERT_EQ(dump.size(), 3 * kStateFrameSize);
    EXPECT_EQ(kStateFrameSize, 540324u);

    // Each frame's digest is the one printed for its point.
    std::vector<std::string> lines;
    for (std::size_t at = 0, next; (next = child.out.find('\n', at)) != std::string::npos; at = next + 1) {
        lines.push_back(child.out.substr(at, next - at));
    }
    ASSERT_EQ(lines.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(dump.data()) + i * kStateFrameSize;
        char hex[17];
        const auto digest = static_cast<unsigned long long>(frame_digest(bytes, kStateFrameSize));
        std::snprintf(hex, sizeof hex, "%016llx", digest);
        EXPECT_EQ(lines[i].substr(lines[i].size() - 16), hex);
    }

    // Frame after unit 1: record 0 of long_records starts the frame, the
    // state integers follow the index table.
    const auto* frame = reinterpret_cast<const unsigned char*>(dump.data()) + kStateFrameSize;
    const std::size_t integers = 2 * 700 * 272 + 700 * 4;
    auto integer = [&](std::size_t i) {
        std::int32_t v;
        std::memcpy(&v, frame + integers + 4 * i, 4);
        return v;
    };
    EXPECT_EQ(integer(0), 1);      // copy_call_counter: 3001 calls, period 100
    EXPECT_EQ(integer(2), 0);      // copy_calls_left counted down to 0
    EXPECT_EQ(integer(3), 136);    // copy_size_a
    EXPECT_EQ(integer(7), 4);      // base_month: the date step moves only base_year
    EXPECT_EQ(integer(11), 3);     // date_phase after 123 date steps
    EXPECT_EQ(integer(12), 371);   // date_cursor after 6127 records, 2 apart, from 0
    EXPECT_EQ(integer(24), 8);     // database_limit
    EXPECT_EQ(integer(26), 2083449087);  // module_seed: 7, then the word step's 8 restarts
}

TEST(Verify, SeveralRunsReportEveryPointOfEveryRun) {
    TempDir dir;
    const ChildResult child = run_child(PTVERIFY_BINARY, {"--units", "1", "--runs", "2"}, dir.path());
    ASSERT_EQ(child.exit_code, 0) << child.err;
    EXPECT_NE(child.out.find("run 2 setup "), std::string::npos);
    EXPECT_NE(child.out.find("run 2 unit 1 "), std::string::npos);
}

// Each refusal names what is at fault, so that a log says it.
TEST(Verify, RefusesABadCommandLineNamingTheFault) {
    TempDir dir;
    const std::string help = " (ptverify --help lists the options)\n";
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--units", "x"}, "--units: \"x\" is not a whole number from 0 to 1000000"},
        {{"--runs", "0"}, "--runs: \"0\" is not a whole number from 1 to 1000000"},
        {{"--bogus"}, "unknown option --bogus"},
        {{"digests.txt"}, "unexpected argument digests.txt"},
        {{"--units", "1", "--dump"}, "--dump needs its value FILE"},
        {{"--version", "--units", "1"}, "--version takes no other argument"},
        // A profile takes no runs or dump, measures at least one unit; only a profile has warm-up or seconds.
        {{"--profile", "--units", "0"}, "--profile measures at least one unit: --units 0"},
        {{"--profile", "--runs", "2"}, "--profile takes no --runs"},
        {{"--dump", "x", "--profile"}, "--profile takes no --dump"},
        {{"--profile", "--seconds", "0"}, "--seconds: \"0\" is not a number of seconds above 0 and at most 1e+06"},
        {{"--profile", "--seconds", "-1e-400"}, "--seconds: \"-1e-400\" is not a number of seconds above 0"},
        {{"--seconds", "1"}, "--seconds is taken only with --profile"},
        {{"--warmup-units", "1"}, "--warmup-units is taken only with --profile"},
    };
    for (const auto& [args, fault] : cases) {
        const ChildResult child = run_child(PTVERIFY_BINARY, args, dir.path());
        EXPECT_EQ(child.exit_code, 2) << fault;
        EXPECT_EQ(child.err.rfind("ptverify: " + fault, 0), 0u) << child.err;
        EXPECT_EQ(child.err.substr(child.err.size() - std::min(child.err.size(), help.size())), help) << child.err;
    }
}

// The manual gives the options and exit statuses that --help gives.
TEST(Verify, HelpGoesToStandardOutputAndAgreesWithTheManual) {
    const ChildResult child = run_child(PTVERIFY_BINARY, {"--help"}, ".");
    EXPECT_EQ(child.exit_code, 0);
    EXPECT_EQ(child.err, "");
    const std::string page = read_file(PT_MANUALS "/ptverify.1");
    auto names = [](const std::string& text, const std::string& pattern) {
        std::set<std::string> found;
        const std::regex name(pattern);
        for (auto at = std::sregex_iterator(text.begin(), text.end(), name); at != std::sregex_iterator(); ++at) {
            found.insert(std::regex_replace((*at)[1].str(), std::regex(R"(\\)"), ""));
        }
        return found;
    };
    const std::size_t options = page.find(".SH OPTIONS"), exits = page.find(".SH EXIT STATUS");
    const std::size_t help_exits = child.out.find("\nExit status:");
    ASSERT_NE(help_exits, std::string::npos) << child.out;
    EXPECT_EQ(names(child.out.substr(0, help_exits), R"(\n  (--[a-z-]+))"),
              names(page.substr(options, exits - options), R"(\n\.BI? (\\-\\-[a-z\\-]+))"));
    EXPECT_EQ(names(child.out.substr(help_exits), R"(\n  ([0-9]+) )"),
              names(page.substr(exits, page.find(".SH", exits + 1) - exits), R"(\n\.B ([0-9]+)\n)"));
}

// The measured units are pt's own: after W warm-up and K measured units the
// state is that of the first run after W + K units.
TEST(Verify, ProfileLeavesTheStateOfTheUnprofiledRun) {
    TempDir dir;
    const std::string pinned_unit_3 = std::string(kPinnedDigests).substr(std::string(kPinnedDigests).rfind(' ') + 1);
    // A limit below the clock's nanosecond is still a limit: one unit, never all of them.
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--warmup-units", "0", "--units", "3"}, "3"},
        {{"--warmup-units", "2", "--units", "1"}, "1"},
        {{"--warmup-units", "2", "--units", "3", "--seconds", "1e-10"}, "1"},
        {{"--warmup-units", "2", "--units", "3", "--seconds", "1e-400"}, "1"},
    };
    for (auto [args, measured] : cases) {
        args.insert(args.begin(), "--profile");
        const ChildResult child = run_child(PTVERIFY_BINARY, args, dir.path());
        ASSERT_EQ(child.exit_code, 0) << child.err;
        EXPECT_EQ(json_field(child.out, "state_digest"), "\"" + pinned_unit_3.substr(0, 16) + "\"") << child.out;
        EXPECT_EQ(json_field(child.out, "units"), measured) << args.back();
    }
}
