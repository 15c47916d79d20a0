// ptrun against a stand-in pt that does at once what a plan file says: the
// result-file protocol, the statistics, the copy counts and their pinning,
// bad input, a failed run and Ctrl-C.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "support/test_support.h"

namespace {

// The calls the stand-in logged: its pid and the processors it could use.
std::vector<std::pair<int, std::string>> calls(const TempDir& dir) {
    std::vector<std::pair<int, std::string>> entries;
    std::istringstream lines(read_file(dir.file("plan.log")));
    int pid;
    std::string cpus;
    while (lines >> pid >> cpus) entries.emplace_back(pid, cpus);
    return entries;
}

std::vector<std::string> environment(const TempDir& dir) {
    std::filesystem::create_directory(dir.file("tmp"));
    return {"PT_STAND_IN_PLAN=" + dir.file("plan"), "TMPDIR=" + dir.file("tmp")};
}

bool empty_directory(const std::string& path) { return std::filesystem::is_empty(path); }

}  // namespace

TEST(Ptrun, RunsEveryCopyCountPinnedAndSummarisesTheSpread) {
    TempDir dir;
    // One copy: 100 (with pt's speed warning), 120, 110. Two copies: rate
    // scores 200, 190 and 210, the last with a copy that idled.
    write_file(dir.file("plan"), "warn 100\n120\n110\n100\n100\n90\n100\nidle 105\n105\n");
    const ChildResult child = run_child(
        PTRUN_BINARY, {"--runs", "3", "--copies", "1,2", "--pt", STAND_IN_PT, "--json", "out.json"}, dir.path(),
        environment(dir));
    ASSERT_EQ(child.exit_code, 0) << child.err;
    const nlohmann::json json = nlohmann::json::parse(read_file(dir.file("out.json")));
    EXPECT_EQ(json["outcome"], "completed");
    const std::vector<std::tuple<int, int, double, bool>> rounds = {
        {1, 1, 100, true}, {1, 2, 120, false}, {1, 3, 110, false},
        {2, 1, 200, false}, {2, 2, 190, false}, {2, 3, 210, true}};
    ASSERT_EQ(json["rounds"].size(), rounds.size()) << json.dump(2);
    for (std::size_t i = 0; i < rounds.size(); ++i) {
        const auto& [copies, round, rate, flagged] = rounds[i];
        EXPECT_EQ(json["rounds"][i]["copies"], copies);
        EXPECT_EQ(json["rounds"][i]["round"], round);
        EXPECT_EQ(json["rounds"][i]["rate_score"], rate);
        if (flagged) {
            EXPECT_EQ(json["rounds"][i]["flagged"], true) << i;
        }
    }
    const std::vector<std::tuple<int, double, double, double, double>> summaries = {
        {1, 110, 100, 120, 1.0 / 11}, {2, 200, 190, 210, 0.05}};
    ASSERT_EQ(json["summary"].size(), summaries.size());
    for (std::size_t i = 0; i < summaries.size(); ++i) {
        const auto& [copies, median, min, max, cv] = summaries[i];
        const nlohmann::json& summary = json["summary"][i];
        EXPECT_EQ(summary["copies"], copies);
        EXPECT_EQ(summary["runs"], 3);
        EXPECT_EQ(summary["median"], median);
        EXPECT_EQ(summary["min"], min);
        EXPECT_EQ(summary["max"], max);
        EXPECT_NEAR(summary["cv"].get<double>(), cv, 1e-12);
    }
    EXPECT_TRUE(json["summary"][0]["scaling_efficiency"].is_null());
    EXPECT_NEAR(json["summary"][1]["scaling_efficiency"].get<double>(), 200.0 / 220.0, 1e-12);
    EXPECT_EQ(json["pt"]["sha256"].get<std::string>().size(), 64u);
    // The build tree's tools/ptverify, beside tests/, describes the build.
    EXPECT_EQ(json["pt"]["build"].get<std::string>().rfind("ptverify version ", 0), 0u) << json["pt"];
    // Only the copy that warned saw its speed change; the one that idled got
    // next to nothing of its processor.
    int speed_changed = 0;
    bool idled = false;
    for (const nlohmann::json& run : json["runs"]) {
        if (run["speed_changed"] == true) {
            ++speed_changed;
            EXPECT_EQ(run["flagged"], true);
            EXPECT_EQ(run["pt_messages"],
                      nlohmann::json::array({"warning: speed changed during the run: a work unit took 9.9 % more time"}));
        }
        idled = idled || (run["wall_s"].get<double>() >= 0.5 && run["share"].get<double>() < 0.05);
    }
    EXPECT_EQ(speed_changed, 1);
    EXPECT_TRUE(idled) << json["runs"].dump(2);
    EXPECT_NE(child.out.find("Re-run on a quiet machine."), std::string::npos) << child.out;
    EXPECT_EQ(child.err.find("ptrun: run "), std::string::npos) << "progress without a terminal: " << child.err;

    // Every copy pinned to one processor; the two copies of a round to two.
    const auto log = calls(dir);
    ASSERT_EQ(log.size(), 9u);
    for (const auto& call : log) EXPECT_EQ(call.second.find(','), std::string::npos) << call.second;
    if (sysconf(_SC_NPROCESSORS_ONLN) >= 2) {
        for (std::size_t i = 3; i < 9; i += 2) EXPECT_NE(log[i].second, log[i + 1].second);
    }
    EXPECT_TRUE(empty_directory(dir.file("tmp")));
}

TEST(Ptrun, RefusesBadInputBeforeAnyRunAndStopsAtAFailedRun) {
    TempDir dir;
    write_file(dir.file("plan"), "100\nerror Database module returned error code 3 .\n100\n");
    write_file(dir.file("not-executable"), "");
    const std::string too_many = std::to_string(sysconf(_SC_NPROCESSORS_ONLN) + 1);
    const std::vector<std::pair<std::vector<std::string>, std::string>> bad = {
        {{"--pt", "/no/such/pt"}, "ptrun: no executable pt at /no/such/pt"},
        {{"--pt", dir.file("not-executable")}, "ptrun: no executable pt at "},
        {{"--runs", "0"}, "ptrun: bad --runs \"0\": a number from 1 to 100"},
        {{"--runs", "101"}, "ptrun: bad --runs \"101\""},
        {{"--copies", "1,x"}, "ptrun: bad copy count \"x\""},
        {{"--copies", "2,all,2"}, "ptrun: copy count 2 is given twice"},
        {{"--cpus", "0-99999"}, "is not online or not available to ptrun"},
        {{"--json", dir.file("no/such/dir/out.json")}, "ptrun: cannot write --json "},
        {{"--runs"}, "ptrun: unknown option or missing value: --runs"},
    };
    for (const auto& [args, message] : bad) {
        std::vector<std::string> with_pt{"--pt", STAND_IN_PT};
        with_pt.insert(with_pt.end(), args.begin(), args.end());
        const ChildResult child = run_child(PTRUN_BINARY, with_pt, dir.path(), environment(dir));
        EXPECT_EQ(child.exit_code, 2) << args[0];
        EXPECT_NE(child.err.find(message), std::string::npos) << child.err;
    }
    EXPECT_TRUE(calls(dir).empty()) << "a run started despite bad input";

    // More copies than processors is allowed, but said.
    const ChildResult crowded =
        run_child(PTRUN_BINARY, {"--pt", STAND_IN_PT, "--runs", "1", "--copies", too_many}, dir.path(),
                  environment(dir));
    EXPECT_EQ(crowded.exit_code, 1) << crowded.err;  // the plan's second call fails
    EXPECT_NE(crowded.err.find("ptrun: note: " + too_many + " copies on "), std::string::npos) << crowded.err;
    std::filesystem::remove(dir.file("plan.log"));

    const ChildResult failed =
        run_child(PTRUN_BINARY, {"--pt", STAND_IN_PT, "--runs", "3"}, dir.path(), environment(dir));
    EXPECT_EQ(failed.exit_code, 1);
    EXPECT_NE(failed.err.find("ptrun: copies 1, round 2, copy 1 failed: exit code 255: "
                              "Database module returned error code 3 .\n"),
              std::string::npos)
        << failed.err;
    EXPECT_NE(failed.out.find("     1      1     1"), std::string::npos) << failed.out;
    EXPECT_EQ(calls(dir).size(), 2u) << "the call went on after a failed run";
    EXPECT_TRUE(empty_directory(dir.file("tmp")));
}

TEST(Ptrun, CtrlCEndsEveryCopyAndRemovesTheTemporaryFolder) {
    TempDir dir;
    write_file(dir.file("plan"), "100\nhang\nhang\n");
    const std::vector<std::string> env = environment(dir);
    const std::string out = dir.file("stdout");
    const pid_t ptrun = fork();
    ASSERT_GE(ptrun, 0);
    if (ptrun == 0) {
        for (const std::string& entry : env) putenv(const_cast<char*>(entry.c_str()));
        if (freopen(out.c_str(), "w", stdout) == nullptr || chdir(dir.path().c_str()) != 0) _exit(127);
        execl(PTRUN_BINARY, PTRUN_BINARY, "--pt", STAND_IN_PT, "--runs", "1", "--copies", "1,2",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    // Wait until both copies of the second round hang.
    for (int i = 0; i < 500 && calls(dir).size() < 3; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(calls(dir).size(), 3u);
    kill(ptrun, SIGINT);
    int status = 0;
    pid_t ended = 0;
    for (int i = 0; i < 1000 && (ended = waitpid(ptrun, &status, WNOHANG)) == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (ended == 0) {
        kill(ptrun, SIGKILL);
        waitpid(ptrun, &status, 0);
        FAIL() << "ptrun did not end after Ctrl-C";
    }
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 130);
    for (const auto& call : calls(dir)) {
        EXPECT_TRUE(kill(call.first, 0) != 0 && errno == ESRCH) << "copy " << call.first << " still runs";
    }
    EXPECT_TRUE(empty_directory(dir.file("tmp")));
    // What had finished is shown.
    EXPECT_NE(read_file(out).find("     1      1     1"), std::string::npos) << read_file(out);
}

TEST(Ptrun, InterleavesTwoBuildsAndComparesThem) {
    TempDir dir;
    // A second build: the stand-in under another name and digest.
    std::filesystem::copy_file(STAND_IN_PT, dir.file("pt_b"));
    write_file(dir.file("pt_b"), read_file(STAND_IN_PT) + "\n");
    std::filesystem::permissions(dir.file("pt_b"), std::filesystem::perms::owner_all);
    // Rounds A B (warm-up), B A, A B, B A, A B.
    write_file(dir.file("plan"), "50\n50\n90\n100\n101\n91\n92\n102\n103\n93\n");
    const ChildResult child =
        run_child(PTRUN_BINARY, {"--pt", STAND_IN_PT, "--pt", dir.file("pt_b"), "--runs", "4", "--warmup-rounds", "1",
                                 "--json", "ab.json"},
                  dir.path(), environment(dir));
    ASSERT_EQ(child.exit_code, 0) << child.err;
    const nlohmann::json json = nlohmann::json::parse(read_file(dir.file("ab.json")));
    std::string order;
    for (const nlohmann::json& run : json["runs"]) order += run["build"].get<std::string>();
    EXPECT_EQ(order, "ABBAABBAAB");
    for (const nlohmann::json& summary : json["summary"]) {
        EXPECT_EQ(summary["median"], summary["build"] == "A" ? 101.5 : 91.5) << "a warm-up round counted";
    }
    ASSERT_EQ(json["comparison"].size(), 1u) << json.dump(2);
    const nlohmann::json& entry = json["comparison"][0];
    EXPECT_EQ(entry["n_a"], 4);
    EXPECT_DOUBLE_EQ(entry["p_value"].get<double>(), 2.0 / 70);
    EXPECT_EQ(entry["verdict"], "slower");
    EXPECT_NE(entry["differences"].dump().find("binary sha256"), std::string::npos) << entry.dump();
    EXPECT_NE(child.out.find("warm-up\n"), std::string::npos) << child.out;
    EXPECT_NE(child.out.find("slower by 9.9 %"), std::string::npos) << child.out;

    // The gate, and bad input: exit 1 when B is shown slower by more, 2 when nothing compares.
    nlohmann::json other = json;
    for (nlohmann::json& run : other["runs"]) run["copies"] = 2;
    write_file(dir.file("other.json"), other.dump());
    write_file(dir.file("newer.json"), R"({"schema_version": 99, "runs": []})");
    other["runs"][0]["warmup"] = "no";
    write_file(dir.file("mistyped.json"), other.dump());
    const std::vector<std::pair<std::vector<std::string>, int>> calls = {
        {{"ab.json", "--fail-above", "5"}, 1},
        {{"ab.json", "--fail-above", "15"}, 0},
        {{"ab.json", "ab.json", "--a-build", "B", "--b-build", "A", "--fail-above", "5"}, 0},
        {{"ab.json", "other.json"}, 2},
        {{"ab.json", "newer.json"}, 2},
        {{"ab.json", "mistyped.json"}, 2},
        {{"plan", "ab.json"}, 2},
        {{"ab.json", "--b-build", "C"}, 2},
    };
    for (const auto& [args, status] : calls) {
        std::vector<std::string> with_command{"compare"};
        with_command.insert(with_command.end(), args.begin(), args.end());
        const ChildResult compared = run_child(PTRUN_BINARY, with_command, dir.path());
        EXPECT_EQ(compared.exit_code, status) << args[0] << " " << args[1] << compared.err;
    }
}
