// The workload's first run is deterministic, so the digest of the whole
// workload state after the set-up and after each work unit is a fixed value.
// Any change in what any module computes changes these pins.
#include <gtest/gtest.h>

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

TEST(Verify, RejectsBadArguments) {
    TempDir dir;
    // One line naming the fault. A profile takes no runs or dump, measures a unit; only it has warm-up or seconds.
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--units", "x"}, "--units: \"x\" is not a whole number from 0 to 1000000"},
        {{"--bogus"}, "unknown option --bogus"},
        {{"digests.txt"}, "unexpected argument digests.txt"},
        {{"--units", "1", "--dump"}, "--dump needs its value FILE"},
        {{"--version", "--units", "1"}, "--version takes no other argument"},
        {{"--profile", "--units", "0"}, "--profile measures at least one unit: --units 0"},
        {{"--profile", "--runs", "2"}, "--profile takes no --runs"},
        {{"--dump", "x", "--profile"}, "--profile takes no --dump"},
        {{"--profile", "--seconds", "-1e-400"},
         "--seconds: \"-1e-400\" is not a number of seconds above 0 and at most 1e+06"},
        {{"--seconds", "1"}, "--seconds is taken only with --profile"},
        {{"--warmup-units", "1"}, "--warmup-units is taken only with --profile"},
    };
    for (const auto& [args, fault] : cases) {
        const ChildResult child = run_child(PTVERIFY_BINARY, args, dir.path());
        EXPECT_EQ(child.exit_code, 2) << fault;
        EXPECT_EQ(child.err, "ptverify: " + fault + " (ptverify --help lists the options)\n");
    }
}

// Asked for, the help is no error; the manual gives the options and exit statuses it gives.
TEST(Verify, HelpGoesToStandardOutputAndAgreesWithTheManual) {
    const ChildResult child = run_child(PTVERIFY_BINARY, {"--help"}, ".");
    EXPECT_EQ(child.exit_code, 0) << child.err;
    const std::string page = std::regex_replace(read_file(PT_MANUALS "/ptverify.1"), std::regex(R"(\\-)"), "-");
    auto found = [](const std::string& text, const std::string& pattern) {
        std::set<std::string> names;
        const std::regex name(pattern);
        for (std::sregex_iterator at(text.begin(), text.end(), name), end; at != end; ++at) names.insert((*at)[1]);
        return names;
    };
    const std::size_t options = page.find(".SH OPTIONS"), exits = page.find(".SH EXIT");
    const std::size_t help = child.out.find("\nExit status:");
    EXPECT_EQ(found(child.out.substr(0, help), R"(\n  (--[a-z-]+))"),
              found(page.substr(options, exits - options), R"(\n\.BI? (--[a-z-]+))"));
    EXPECT_EQ(found(child.out.substr(help), R"(\n  ([0-9]) )"), found(page.substr(exits), R"(\n\.B ([0-9])\n)"));
}

// The measured units are pt's own: after W warm-up and K measured units the
// state is that of the first run after W + K units.
TEST(Verify, ProfileLeavesTheStateOfTheUnprofiledRun) {
    TempDir dir;
    const std::string pinned_unit_3 = std::string(kPinnedDigests).substr(std::string(kPinnedDigests).rfind(' ') + 1);
    for (const char* warmup : {"0", "2"}) {
        const std::string units = warmup[0] == '0' ? "3" : "1";
        const ChildResult child =
            run_child(PTVERIFY_BINARY, {"--profile", "--warmup-units", warmup, "--units", units}, dir.path());
        ASSERT_EQ(child.exit_code, 0) << child.err;
        EXPECT_EQ(json_field(child.out, "state_digest"), "\"" + pinned_unit_3.substr(0, 16) + "\"") << child.out;
        EXPECT_EQ(json_field(child.out, "units"), units);
    }
    for (const char* seconds : {"1e-10", "1e-400"}) {  // below the clock's nanosecond, still a limit
        const ChildResult child = run_child(PTVERIFY_BINARY, {"--profile", "--units", "3", "--seconds", seconds}, ".");
        EXPECT_EQ(json_field(child.out, "units"), "1") << seconds << child.err;
    }
}
