// ptrun against a stand-in pt that does at once what a plan file says: the
// result-file protocol, the statistics, the copy counts and their pinning,
// bad input, a failed run and Ctrl-C.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <regex>
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

// A pt of the test's own validates only with the build's ptverify beside it.
void verifier_beside(const TempDir& dir) { std::filesystem::create_symlink(PTVERIFY_BINARY, dir.file("ptverify")); }

bool empty_directory(const std::string& path) { return std::filesystem::is_empty(path); }

// Starts ptrun in dir, standard output to dir/stdout, with the signals pending (blocked and sent).
pid_t start_ptrun(const TempDir& dir, const std::vector<std::string>& args, const std::vector<int>& pending = {},
                  bool ignore_hang_up = false) {
    const std::vector<std::string> env = environment(dir);
    std::vector<char*> argv{const_cast<char*>(PTRUN_BINARY)};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    const pid_t ptrun = fork();
    if (ptrun != 0) return ptrun;
    for (const std::string& entry : env) putenv(const_cast<char*>(entry.c_str()));
    if (ignore_hang_up) signal(SIGHUP, SIG_IGN);
    sigset_t set;
    sigemptyset(&set);
    for (int sig : pending) sigaddset(&set, sig);
    sigprocmask(SIG_BLOCK, &set, nullptr);
    for (int sig : pending) raise(sig);
    if (!freopen(dir.file("stdout").c_str(), "w", stdout) || chdir(dir.path().c_str()) != 0) _exit(127);
    execv(PTRUN_BINARY, argv.data());
    _exit(127);
}


// The options named in text: -x and --name-of-it.
std::set<std::string> options_in(const std::string& text) {
    static const std::regex option(R"((?:^|[\s,\[])(--?[a-z][a-z-]*))");
    std::set<std::string> found;
    for (std::sregex_iterator it(text.begin(), text.end(), option), end; it != end; ++it) found.insert((*it)[1]);
    return found;
}

// The options a --help lists: those in its option column, help itself aside.
std::set<std::string> help_options(const std::string& help) {
    std::set<std::string> found;
    std::istringstream lines(help);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("  -", 0) == 0) found.merge(options_in(line.substr(0, line.find("   ", 2))));
    }
    // Every command takes these; the manual says so once.
    for (const char* everywhere : {"-h", "--help", "--version"}) found.erase(everywhere);
    return found;
}

// The options a part of a manual page describes: those its items (.TP) are
// tagged with, roff's \\- read as a hyphen. A part runs from its heading to
// the next section's or to the next of the other parts' headings.
std::set<std::string> manual_options(std::string page, const std::string& heading,
                                     const std::vector<std::string>& headings) {
    page = std::regex_replace(page, std::regex(R"(\\-)"), "-");
    const std::size_t from = page.find("\n" + heading + "\n");
    std::size_t to = page.find("\n.SH ", from + 1);
    for (const std::string& other : headings) {
        if (const std::size_t at = page.find("\n" + other + "\n"); at > from && at < to) to = at;
    }
    const std::string part = page.substr(from, to - from);
    std::set<std::string> found;
    for (std::size_t at = part.find(".TP\n"); at != std::string::npos; at = part.find(".TP\n", at + 1)) {
        found.merge(options_in(part.substr(at + 4, part.find('\n', at + 4) - at - 4)));
    }
    return found;
}

// Exit statuses by their numbers: "129, 130, 143" and roff's .BR 129 ", " 130 ", " 143 alike.
std::string codes_in(const std::string& text) {
    return std::regex_replace(" " + text + " ", std::regex(R"(\D+)"), " ");
}

// The exit statuses a --help lists, one a line in its first column (28 wide).
std::vector<std::string> help_exits(const std::string& help) {
    std::vector<std::string> found;
    std::istringstream lines(help);
    for (std::string line; std::getline(lines, line);) {
        if (std::regex_match(line, std::regex(R"(  \d.*)"))) found.push_back(codes_in(line.substr(0, 28)));
    }
    return found;
}

// Those a manual page gives a command: the items (.TP) of every paragraph
// "Exit status of" that names it, both lists when two do.
std::vector<std::string> manual_exits(const std::string& page, const std::string& command) {
    static const std::regex tag(R"(\n\.TP\n(.*))");
    std::vector<std::string> found;
    for (std::size_t at = page.find("\nExit status of\n"); at != std::string::npos;
         at = page.find("\nExit status of\n", at + 1)) {
        const std::string list = page.substr(at, std::min(page.find("\n.PP\n", at), page.find("\n.SH ", at)) - at);
        const std::string intro = std::regex_replace(list.substr(0, list.find("\n.TP\n")), std::regex("\""), "");
        if (!std::regex_search(intro, std::regex("ptrun " + command + R"(\b)"))) continue;
        for (std::sregex_iterator it(list.begin(), list.end(), tag), end; it != end; ++it) {
            found.push_back(codes_in((*it)[1]));
        }
    }
    return found;
}

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
                      nlohmann::json::array(
                          {"warning: speed changed during the run: a work unit took 9.9 % more time"}));
        }
        idled = idled || (run["wall_s"].get<double>() >= 1.0 && run["share"].get<double>() < 0.5);
    }
    EXPECT_EQ(speed_changed, 1);
    EXPECT_TRUE(idled) << json["runs"].dump(2);
    // Every scored run carries its build's profile; counters that cannot be
    // had are null with the call's reason, never a zero.
    for (const nlohmann::json& run : json["runs"]) {
        for (const char* module : {"copy", "dates", "words", "parse", "library", "database"}) {
            EXPECT_GT(run["module_ms"][module].get<double>(), 0) << module << run["module_ms"];
        }
        if (run["module_counters"].is_null()) {
            EXPECT_TRUE(json["counters_unavailable"].is_string()) << json.dump();
        }
    }
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
        {{"--runs"}, "ptrun: --runs needs a value"},
        {{"--runs=0"}, "ptrun: bad --runs \"0\""},
        {{"--allow-unvalidated=yes"}, "ptrun: --allow-unvalidated takes no value"},
        {{"--runs", "2", "stray"}, "ptrun: unexpected argument stray (ptrun --help lists the options)"},
        {{"--json", "/dev/null"}, "ptrun: --json /dev/null is a device"},
        {{"--json", dir.file("fifo")}, " is a FIFO"},
        {{"--json", dir.path()}, " is a folder"},
        {{"--json", dir.file("dangling")}, " is a link to nothing"},
        {{"--json", ""}, "ptrun: --json needs a file name"},
        {{"--json="}, "ptrun: --json needs a file name"},
        {{"--keep", ""}, "ptrun: --keep needs a folder name"},
        {{"--pt", dir.file("text")}, " is neither a program nor a script"},
        {{"--pt", dir.file("script")}, "its interpreter \"/no/such/sh\" is not a program"},
    };
    ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
    std::filesystem::create_symlink(dir.file("no-such-file"), dir.file("dangling"));
    write_file(dir.file("text"), "100\n");
    write_file(dir.file("script"), "#!/no/such/sh\n");
    for (const char* name : {"text", "script"}) chmod(dir.file(name).c_str(), 0755);
    for (const auto& [args, message] : bad) {
        std::vector<std::string> with_pt{"--pt", STAND_IN_PT};
        with_pt.insert(with_pt.end(), args.begin(), args.end());
        const ChildResult child = run_child(PTRUN_BINARY, with_pt, dir.path(), environment(dir));
        EXPECT_EQ(child.exit_code, 2) << args[0];
        EXPECT_NE(child.err.find(message), std::string::npos) << message << "\n" << child.err;
    }
    EXPECT_TRUE(calls(dir).empty()) << "a run started despite bad input";
    for (const std::string& tmpdir : {dir.file("no/such"), dir.file("text")}) {
        const ChildResult child = run_child(PTRUN_BINARY, {"--pt", STAND_IN_PT}, dir.path(), {"TMPDIR=" + tmpdir});
        EXPECT_EQ(child.exit_code, 2);
        EXPECT_NE(child.err.find("ptrun: TMPDIR=" + tmpdir + " is not a folder"), std::string::npos) << child.err;
    }

    // More copies than processors is allowed, but said.
    const ChildResult crowded =
        run_child(PTRUN_BINARY, {"--pt", STAND_IN_PT, "--runs", "1", "--copies", too_many}, dir.path(),
                  environment(dir));
    EXPECT_EQ(crowded.exit_code, 1) << crowded.err;  // the plan's second call fails
    EXPECT_NE(crowded.err.find("ptrun: note: " + too_many + " copies on "), std::string::npos) << crowded.err;
    std::filesystem::remove(dir.file("plan.log"));
    // On one processor all is 1: the same plan named twice is run once.
    EXPECT_EQ(run_child(PTRUN_BINARY, {"--pt", STAND_IN_PT, "--runs", "1", "--cpus", "0", "--copies", "1,all"},
                        dir.path(), environment(dir)).exit_code, 0);
    EXPECT_EQ(calls(dir).size(), 1u);
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
    // A pt that starts the real one without exec: the copies' children end too.
    const std::string wrapper = dir.file("pt-wrapper");
    write_file(wrapper, std::string("#!/bin/sh\n\"") + STAND_IN_PT + "\" \"$@\"\nexit $?\n");
    std::filesystem::permissions(wrapper, std::filesystem::perms::owner_all);
    verifier_beside(dir);
    const std::string out = dir.file("stdout");
    const pid_t ptrun = start_ptrun(dir, {"--pt", wrapper, "--runs", "1", "--copies", "1,2"});
    ASSERT_GE(ptrun, 0);
    // Wait until both copies of the second round hang.
    for (int i = 0; i < 6000 && calls(dir).size() < 3; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(calls(dir).size(), 3u);
    kill(ptrun, SIGINT);
    int status = 0;
    pid_t ended = 0;
    for (int i = 0; i < 6000 && (ended = waitpid(ptrun, &status, WNOHANG)) == 0; ++i) {
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
    // A second build: the stand-in under another name and digest, beside
    // the real verification tool so that it validates.
    std::filesystem::copy_file(STAND_IN_PT, dir.file("pt_b"));
    write_file(dir.file("pt_b"), read_file(STAND_IN_PT) + "\n");
    std::filesystem::permissions(dir.file("pt_b"), std::filesystem::perms::owner_all);
    verifier_beside(dir);
    // Rounds A B (warm-up), B A, A B, B A, A B.
    write_file(dir.file("plan"), "50\n50\n90\n100\n101\n91\n92\n102\n103\n93\n");
    const ChildResult child =
        run_child(PTRUN_BINARY, {"--pt", STAND_IN_PT, "--pt", dir.file("pt_b"), "--runs", "4", "--warmup-rounds", "1",
                                 "--no-profile", "--json", "ab.json"},
                  dir.path(), environment(dir));
    ASSERT_EQ(child.exit_code, 0) << child.err;
    const nlohmann::json json = nlohmann::json::parse(read_file(dir.file("ab.json")));
    std::string order;
    for (const nlohmann::json& run : json["runs"]) order += run["build"].get<std::string>();
    EXPECT_EQ(order, "ABBAABBAAB");
    EXPECT_EQ(json["counters_unavailable"], "no profile: --no-profile");
    for (const nlohmann::json& run : json["runs"]) EXPECT_TRUE(run["module_ms"].is_null());
    for (const nlohmann::json& summary : json["summary"]) {
        EXPECT_EQ(summary["median"], summary["build"] == "A" ? 101.5 : 91.5) << "a warm-up round counted";
    }
    ASSERT_EQ(json["comparison"].size(), 1u) << json.dump(2);
    const nlohmann::json& entry = json["comparison"][0];
    EXPECT_EQ(entry["n_a"], 4);
    EXPECT_DOUBLE_EQ(entry["p_value"].get<double>(), 2.0 / 70);
    EXPECT_EQ(entry["test"], "rank-sum");  // 4 pairs are too few for the paired test
    EXPECT_EQ(entry["verdict"], "slower");
    EXPECT_NE(entry["differences"].dump().find("binary sha256"), std::string::npos) << entry.dump();
    EXPECT_NE(child.out.find("warm-up\n"), std::string::npos) << child.out;
    EXPECT_NE(child.out.find("slower by 9.9 %"), std::string::npos) << child.out;
    // The rounds a 1 % and a 2 % slowdown would need: said once, as soon as each build has its first 3 rounds.
    const std::string needed = "1 copy: were rounds to spread as the first 3 pairs of A and B did, a slowdown of 1 %";
    const std::size_t at = child.err.find(needed);
    EXPECT_NE(at, std::string::npos) << child.err;
    EXPECT_EQ(child.err.find(needed, at + 1), std::string::npos) << child.err;
    // The median of the 16 pairwise ratios, beside the ratio of medians for such even rounds.
    EXPECT_NEAR(entry["estimate"].get<double>(), 91.5 / 101.5, 1e-5);
    // What these rounds could have seen, kept in the results file and shown beside the verdict in report's table.
    EXPECT_GT(entry["detectable_slowdown"].get<double>(), 0.0) << entry.dump();
    const ChildResult page = run_child(PTRUN_BINARY, {"report", "ab.json", "--format", "md"}, dir.path());
    EXPECT_NE(page.out.find("| slowdown seen 80 % |"), std::string::npos) << page.out;

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
        // Strict: only when the whole interval (0.874 to 0.930) lies beyond.
        {{"ab.json", "--fail-above-strict", "5"}, 1},
        {{"ab.json", "--fail-above-strict", "8"}, 0},
        {{"ab.json", "--fail-above", "5", "--fail-above-strict", "5"}, 2},
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
    // The comparison in a format of the table, into a file, with the gate's outcome in it too.
    const ChildResult md = run_child(PTRUN_BINARY, {"compare", "ab.json", "--format", "md", "-o", "ab.md",
                                                    "--fail-above", "5"}, dir.path());
    EXPECT_EQ(md.exit_code, 1) << md.err;
    // How many rounds were flagged rests on the stand-in's processor share, which a busy machine moves.
    EXPECT_TRUE(std::regex_search(read_file(dir.file("ab.md")),
                                  std::regex(R"(\| 4 / 4 \| [0-4] / [0-4] \| 101\.50 \| 91\.50 \| )"
                                             R"(0\.9015 \| 0\.9015 \| )"
                                             R"(0\.8738 to 0\.9300 \| 97\.1 % \| 0\.0286 \| rank-sum \| )"
                                             R"(slower by 9\.9 % \|)")))
        << read_file(dir.file("ab.md"));
    EXPECT_NE(read_file(dir.file("ab.md")).find("gate failed: B, 1 copy: slower by 9.9 %"), std::string::npos);

    // Two rounds of one binary twice: both said before the first round.
    write_file(dir.file("plan"), "50\n50\n90\n100\n");
    std::filesystem::remove(dir.file("plan.log"));
    const ChildResult same = run_child(PTRUN_BINARY, {"--pt", STAND_IN_PT, "--pt", STAND_IN_PT, "--runs", "2",
                                                      "--no-profile"}, dir.path(), environment(dir));
    EXPECT_EQ(same.exit_code, 0) << same.err;
    for (const char* said : {"ptrun: note: 2 rounds of each build cannot reach a verdict", "are the fewest that can "
                             "(--runs 4)", "ptrun: note: builds A and B are the same binary (sha256 "}) {
        EXPECT_NE(same.err.find(said), std::string::npos) << said << "\n" << same.err;
    }
}

TEST(Ptrun, WritesWhatWasAskedForOrFailsSayingSo) {
    TempDir dir;
    write_file(dir.file("plan"), "100\n100\n100\n100\n100\n100\n100\n100\n");
    const std::string reader_gone = "rm -f p; mkfifo p && exec 3<>p 4>p 3<&- && exec \"$@\" >&4 4>&-";
    const std::string disk_full = "exec \"$@\" >/dev/full";
    const std::string ptrun = PTRUN_BINARY, json = "--json", pt = "--pt", runs = "--runs";
    const std::vector<std::tuple<std::string, std::vector<std::string>, int, std::string>> cases = {
        {"exec \"$@\"", {ptrun, pt, STAND_IN_PT, runs, "1", json, "-"}, 0, "copies  round"},
        {"exec \"$@\"", {ptrun, pt, STAND_IN_PT, runs, "1", json, "/dev/stdout"}, 0, "copies  round"},
        {disk_full, {ptrun, pt, STAND_IN_PT, runs, "1", json, "out.json"}, 1, "cannot write the table"},
        {reader_gone, {ptrun, pt, STAND_IN_PT, runs, "1", json, "out.json"}, 1, "Broken pipe"},
        {disk_full, {ptrun, pt, STAND_IN_PT, runs, "1", json, "-"}, 1, "cannot write the figures to standard output"},
        {disk_full, {PTVERIFY_BINARY, "--units", "1"}, 1, "ptverify: cannot write the digests"},
        {"exec \"$@\"", {PTVERIFY_BINARY, "--runs", "0"}, 2, "ptverify: --runs: \"0\" is not a whole number"},
        {"exec \"$@\"", {ptrun, pt, STAND_IN_PT, pt, STAND_IN_PT, runs, "1", json, "ab.json"}, 0, ""},
        {disk_full, {ptrun, "compare", "ab.json"}, 2, "cannot write the comparison to standard output"},
        {"exec \"$@\"", {ptrun, "compare", "ab.json", "--b-build", "A"}, 2, "A and B are both build A of ab.json"},
        {"exec \"$@\"", {ptrun, pt, STAND_IN_PT, runs, "1", json, "link.json"}, 0, ""},
    };
    // A link updates the file it names, mode kept; what sits beside it is untouched.
    write_file(dir.file("kept.json"), "old");
    const auto mode = std::filesystem::perms::owner_read | std::filesystem::perms::owner_write;
    std::filesystem::permissions(dir.file("kept.json"), mode);
    std::filesystem::create_symlink("kept.json", dir.file("link.json"));
    std::filesystem::create_directory(dir.file("link.json.tmp"));
    std::filesystem::create_symlink("kept.json", dir.file("kept.json.tmp"));
    for (const auto& [script, args, code, message] : cases) {
        std::filesystem::remove(dir.file("out.json"));
        std::vector<std::string> sh_args{"-c", script, "sh"};
        sh_args.insert(sh_args.end(), args.begin(), args.end());
        const ChildResult child = run_child("/bin/sh", sh_args, dir.path(), environment(dir));
        EXPECT_EQ(child.exit_code, code) << script << " " << args.back() << child.err;
        EXPECT_NE(child.err.find(message), std::string::npos) << message << "\n" << child.err;
        if (args[0] == ptrun && (code == 0 || args.back() == "out.json")) {
            const std::string text = args.back().ends_with(".json") ? read_file(dir.file(args.back())) : child.out;
            EXPECT_EQ(nlohmann::json::parse(text)["outcome"], "completed") << args.back();
        }
    }
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("link.json")));
    EXPECT_EQ(nlohmann::json::parse(read_file(dir.file("kept.json")))["outcome"], "completed");
    EXPECT_EQ(std::filesystem::status(dir.file("kept.json")).permissions(), mode);
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("link.json.tmp")));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("kept.json.tmp")));
}

TEST(Ptrun, ASignalBeforeTheFirstRunEndsTheCallCleanlyAndAnIgnoredHangUpStaysIgnored) {
    // Signals pending when ptrun starts arrive before the build is described.
    const std::vector<std::tuple<std::vector<int>, bool, int>> cases = {
        {{SIGTERM}, false, 143}, {{SIGHUP}, false, 129}, {{SIGHUP, SIGINT}, true, 130}};
    for (const auto& [pending, ignore_hang_up, code] : cases) {
        TempDir dir;
        write_file(dir.file("plan"), "100\n");
        const pid_t ptrun = start_ptrun(dir, {"--pt", STAND_IN_PT, "--json", "out.json"}, pending, ignore_hang_up);
        int status = 0;
        ASSERT_EQ(waitpid(ptrun, &status, 0), ptrun);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == code) << code << " " << status;
        EXPECT_EQ(nlohmann::json::parse(read_file(dir.file("out.json")))["outcome"], "interrupted");
        EXPECT_TRUE(calls(dir).empty());
        EXPECT_TRUE(empty_directory(dir.file("tmp")));
    }
}

TEST(Ptrun, CreditsACopyOnlyWithAFinitePositiveResultOfItsOwnAndKeepsItsMessagesBounded) {
    TempDir dir;
    // A pt whose path is not UTF-8; the same --keep folder each time: the first case leaves a result behind.
    const std::string pt = dir.file("pt-\xff");
    std::filesystem::copy_file(STAND_IN_PT, pt);
    verifier_beside(dir);
    std::filesystem::permissions(pt, std::filesystem::perms::owner_all);
    const std::vector<std::tuple<std::string, std::string, std::string, double>> cases = {
        {"24691.36", "", "", 24691.36},
        {"quiet", "", "pt wrote no result", 0},
        {"inf", "", "pt's Result \\\"inf\\\" is not a finite positive number", 0},  // as JSON writes it
        {"nan", "", " is not a finite positive number", 0},
        {"12abc", "", " is not a finite positive number", 0},
        {"-5", "", " is not a finite positive number", 0},
        {"hang", "1", "ended by ptrun after the --timeout of 1 s", 0},
        {"spew 20000 1024512", "", "", 1024512},
        // All of a Result is checked, and a result file too large to read is not taken for none.
        {"raw 5" + std::string(1100, ' ') + "junk", "", "(1105 characters) is not a finite positive number", 0},
        {"pad 17000000 1000", "", "pt's result file holds 17000021 bytes, more than the 1 MiB ptrun reads", 0},
        {"dir", "", "cannot remove the earlier result file ", 0},
    };
    for (const auto& [line, timeout, error, score] : cases) {
        write_file(dir.file("plan"), line + "\n");
        std::filesystem::remove(dir.file("plan.log"));
        if (line == "dir" && std::filesystem::remove(dir.file("kept/b0-k1-r1-c1.ini"))) {
            std::filesystem::create_directories(dir.file("kept/b0-k1-r1-c1.ini/in"));
        }
        std::vector<std::string> args{"--pt", pt, "--runs", "1", "--keep", "kept", "--json", "out.json"};
        if (!timeout.empty()) args.insert(args.end(), {"--timeout", timeout});
        const ChildResult child = run_child(PTRUN_BINARY, args, dir.path(), environment(dir));
        EXPECT_EQ(child.exit_code, error.empty() ? 0 : 1) << line << child.err;
        EXPECT_LT(std::filesystem::file_size(dir.file("out.json")), 100000u) << line;
        const nlohmann::json json = nlohmann::json::parse(read_file(dir.file("out.json")));  // throws on bad UTF-8
        EXPECT_NE(json["pt"]["path_hex"].get<std::string>().find("2f70742dff"), std::string::npos);
        const nlohmann::json& run = json["runs"].at(0);
        EXPECT_EQ(run["score"], score == 0 ? nlohmann::json() : nlohmann::json(score)) << line;  // exactly
        EXPECT_NE(run["error"].dump().find(error), std::string::npos) << run;  // null when there is none
        const bool last_note = run["pt_messages"].dump().find("\"note: 19999 of many\"]") != std::string::npos;
        EXPECT_EQ(run["messages_cut"], score == 1024512 && last_note) << line;
    }
}

TEST(Ptrun, RefusesAResultBeyondWhatItCanSumAndBadSeedOrTemporaryFolderBeforeAnyRun) {
    TempDir dir;
    // The bound itself scores: the manual's figure is the one ptrun prints.
    write_file(dir.file("plan"), "1e308\n1e148\n1.28e148\n");
    using Strings = std::vector<std::string>;
    const std::vector<std::tuple<Strings, Strings, int, std::string>> cases = {
        {{"--runs", "1"}, {}, 1, "failed: exit code 0: pt's Result \"1e308\" is above 1e+148, the most ptrun"},
        {{"--runs", "1", "--copies", "2", "--cpus", "0"}, {}, 1, "failed: exit code 0: pt's Result \"1.28e148\""},
        {{"--pt", STAND_IN_PT, "--seed", "5"}, {}, 2,
         "ptrun: --seed is the seed of --order random: give --order random too, or leave --seed out (ptrun --help"},
        {{"--runs", "1"}, {"TMPDIR=/proc"}, 2, "ptrun: TMPDIR=/proc is not a folder ptrun may write"},
    };
    for (auto [args, env, code, message] : cases) {
        args.insert(args.begin(), {"--pt", STAND_IN_PT});
        for (const std::string& entry : environment(dir)) env.push_back(entry);  // the first of a name counts
        const ChildResult child = run_child(PTRUN_BINARY, args, dir.path(), env);
        EXPECT_EQ(child.exit_code, code) << message << child.err;
        EXPECT_NE(child.err.find(message), std::string::npos) << message << "\n" << child.err;
        std::smatch bound;
        if (std::regex_search(child.err, bound, std::regex(R"(is above (\S+), the most)"))) {
            EXPECT_NE(read_file(PT_MANUALS "/ptrun.1").find("at most " + bound[1].str()), std::string::npos);
        }
    }
    EXPECT_EQ(calls(dir).size(), 3u) << "bad input started a run";
}

TEST(Ptrun, EveryCommandsHelpAndTheManualNameTheSameOptions) {
    // The part of the manual that describes each command's options.
    const std::vector<std::pair<std::string, std::vector<std::string>>> sections = {
        {".SH OPTIONS", {"", "run"}},
        {".SH COMPARING RESULTS", {"compare"}},
        {".SH REPORTS AND MERGED RESULTS", {"report"}},
        {".SS Merging results files", {"merge"}},
        {".SH HISTORY AND CHANGE POINTS", {"history"}},
    };
    std::vector<std::string> headings;
    for (const auto& section : sections) headings.push_back(section.first);
    const std::string page = read_file(PT_MANUALS "/ptrun.1");
    for (const auto& [section, commands] : sections) {
        std::set<std::string> in_help;
        for (const std::string& command : commands) {
            std::vector<std::string> args{"--help"};
            if (!command.empty()) args.insert(args.begin(), command);
            const ChildResult child = run_child(PTRUN_BINARY, args, ".");
            EXPECT_EQ(child.exit_code, 0) << command;
            EXPECT_EQ(child.out.rfind("Usage: ptrun", 0), 0u) << child.out;
            EXPECT_EQ(child.err, "");
            in_help.merge(help_options(child.out));
            // Every format report lists is an item of the manual.
            std::smatch formats;
            if (command == "report" && std::regex_search(child.out, formats, std::regex(R"(--format ([a-z|]+))"))) {
                std::istringstream names(formats[1].str());
                for (std::string name; std::getline(names, name, '|');) {
                    EXPECT_NE(page.find(".B \\-\\-format " + name + "\n"), std::string::npos) << name;
                }
            }
            // Its exit statuses, as the manual gives them once.
            const std::vector<std::string> exits = help_exits(child.out);
            EXPECT_FALSE(exits.empty()) << command;
            EXPECT_EQ(exits, manual_exits(page, command.empty() ? "run" : command)) << "ptrun(1), " << command;
            if (command.empty()) {
                for (const char* name : {"  run ", "  compare ", "  report ", "  merge ", "  history "}) {
                    EXPECT_NE(child.out.find(name), std::string::npos) << "ptrun --help lists no" << name;
                }
            }
        }
        EXPECT_FALSE(in_help.empty()) << section;
        EXPECT_EQ(in_help, manual_options(page, section, headings)) << "ptrun(1) " << section << " and --help differ";
    }
}
