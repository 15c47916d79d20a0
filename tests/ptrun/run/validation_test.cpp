// Validated builds and the verdict: a build is checked against the defined
// work before any run and refused or marked; a document is reportable only
// with enough quiet rounds of validated builds in a recorded environment.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "build_info.h"
#include "driver/pinned_digests.h"
#include "ptrun/run/profile.h"
#include "ptrun/run/validation.h"
#include "support/test_support.h"

using namespace ptrun;
using Json = nlohmann::ordered_json;

TEST(PtrunValidation, OnlyThePinnedDigestsValidate) {
    const std::string pinned = kPinnedDigests;
    std::string other = pinned;
    other.replace(other.find("4fb95927f3a831d2"), 16, "0000000000000000");
    const std::vector<std::pair<std::string, std::string>> cases = {
        {pinned, ""},
        {other, "the digest of run 1 unit 2 is 0000000000000000, the defined work's 4fb95927f3a831d2"},
        {pinned.substr(0, pinned.find("run 1 unit 3")), "ptverify printed no digest for run 1 unit 3"},
        {pinned + "run 1 unit 4 0123456789abcdef\n", "more than the digests asked for"},
        {"garbage\n", "ptverify printed \"garbage\" where the digest of run 1 setup belongs"}};
    for (const auto& [output, why] : cases) {
        const Validation validation = check_digests(output);
        EXPECT_EQ(validation.validated, why.empty()) << output;
        EXPECT_NE(validation.why.find(why), std::string::npos) << validation.why;
    }
    EXPECT_EQ(parse_build_line("version 1.0 for x86_64-linux-gnu, built by GNU 12.2.0 with -O2").compiler, "GCC");
    EXPECT_NE(std::string(PT_COMPILER).rfind("GNU ", 0), 0u) << PT_COMPILER;
}

TEST(PtrunValidation, ABuildThatComputesOtherWorkIsRefusedOrRunMarked) {
    TempDir dir;
    const std::string build = dir.file("build");
    std::filesystem::create_directories(build);
    std::filesystem::create_directories(dir.file("tmp"));
    std::filesystem::copy_file(STAND_IN_PT, build + "/pt");
    write_file(build + "/ptverify",
               "#!/bin/sh\nif [ \"$1\" = --version ]; then echo 'ptverify version 1.0 for x86_64-linux-gnu, built by "
               "GCC 12.2.0 with -O2'; exit 0; fi\necho 'run 1 setup f0f48d84a627fa4a'\necho 'run 1 unit 1 1'\n");
    std::filesystem::permissions(build + "/ptverify", std::filesystem::perms::owner_all);
    write_file(dir.file("plan"), "100\n");
    const std::vector<std::string> env = {"PT_STAND_IN_PLAN=" + dir.file("plan"), "TMPDIR=" + dir.file("tmp")};

    const ChildResult refused = run_child(PTRUN_BINARY, {"--runs", "1", "--pt", build + "/pt"}, dir.path(), env);
    EXPECT_EQ(refused.exit_code, 2);
    EXPECT_NE(refused.err.find("is not validated: the digest of run 1 unit 1 is 1,"), std::string::npos) << refused.err;
    EXPECT_FALSE(file_exists(dir.file("plan.log"))) << "a run started before the build was refused";

    const ChildResult marked =
        run_child(PTRUN_BINARY, {"--runs", "1", "--pt", build + "/pt", "--allow-unvalidated", "--json", "out.json"},
                  dir.path(), env);
    ASSERT_EQ(marked.exit_code, 0) << marked.err;
    const Json doc = Json::parse(read_file(dir.file("out.json")));
    EXPECT_EQ(doc["builds"][0]["validated"], false);
    EXPECT_EQ(doc["summary"][0]["validated"], false);
    EXPECT_EQ(doc["reportable"], false);
    EXPECT_NE(doc["citation"].get<std::string>().find("(unvalidated)"), std::string::npos) << doc["citation"];
    EXPECT_NE(marked.out.find("  unvalidated\n"), std::string::npos) << marked.out;
    // Each run's processor, read outside the run.
    EXPECT_EQ(doc["runs"][0]["environment_before"]["cpus"][0]["cpu"], doc["runs"][0]["cpu"]);
    EXPECT_EQ(doc["runs"][0]["environment_after"]["cpus"].size(), 1u);
}

TEST(PtrunValidation, WhatDescribesAndChecksBuildsIsBoundedAndASignalWhileItRunsEndsTheCall) {
    // Each stand-in notes that it started, leaves a child of its own running, and sends ptrun the signal.
    auto signals = [](const std::string& sig) {
        return "echo $$ >> started; sleep 300 & echo $! > left; kill -" + sig + " $PPID; wait";
    };
    const std::vector<std::tuple<std::string, std::string, int, std::string>> cases = {
        {"units", "exec yes", 2, "ptverify printed more than 64 KiB"},
        {"units", signals("TERM"), 143, "ptrun: interrupted"},
        {"units", signals("INT"), 130, "ptrun: interrupted"},
        // While the builds are described, before any is checked.
        {"sha256sum", signals("TERM"), 143, "ptrun: interrupted"},
        {"version", signals("INT"), 130, "ptrun: interrupted"}};
    for (const auto& [stage, script, code, message] : cases) {
        TempDir dir;
        std::filesystem::create_directories(dir.file("tmp"));
        std::filesystem::create_directories(dir.file("bin"));
        std::filesystem::copy_file(STAND_IN_PT, dir.file("pt"));
        const std::string version = stage == "version" ? script : "exec echo 'ptverify version 1.0'";
        write_file(dir.file("ptverify"), "#!/bin/sh\nif [ \"$1\" = --version ]; then " + version + "; exit; fi\n" +
                                             (stage == "units" ? script : "exit 1") + "\n");
        if (stage == "sha256sum") write_file(dir.file("bin/sha256sum"), "#!/bin/sh\n" + script + "\n");
        for (const char* name : {"ptverify", "bin/sha256sum"}) chmod(dir.file(name).c_str(), 0755);
        const std::vector<std::string> env = {"PT_STAND_IN_PLAN=" + dir.file("plan"), "TMPDIR=" + dir.file("tmp"),
                                              "PATH=" + dir.file("bin") + ":" + std::getenv("PATH")};
        const std::string pt = dir.file("pt");
        const ChildResult child =
            run_child(PTRUN_BINARY, {"--pt", pt, "--pt", pt, "--pt", pt, "--json", "out.json"}, dir.path(), env);
        EXPECT_EQ(child.exit_code, code) << stage << child.err;
        EXPECT_NE(child.err.find(message), std::string::npos) << child.err;
        EXPECT_FALSE(file_exists(dir.file("plan.log"))) << "a copy ran";
        if (code == 2) continue;
        const Json doc = Json::parse(read_file(dir.file("out.json")));
        EXPECT_EQ(doc["outcome"], "interrupted");
        for (const Json& build : doc["builds"]) EXPECT_EQ(build["validation"], "interrupted") << stage;
        // Nothing is started after the signal: no build waits out the time its description is allowed.
        const std::string started = read_file(dir.file("started"));
        EXPECT_EQ(std::count(started.begin(), started.end(), '\n'), 1) << stage;
        // What the stand-in started in the background dies with it.
        const std::string left = read_file(dir.file("left"));
        const std::string stat = "/proc/" + left.substr(0, left.find('\n')) + "/stat";
        EXPECT_TRUE(!file_exists(stat) || read_file(stat).find(") Z") != std::string::npos) << read_file(stat);
    }
}

// What ptverify --profile prints becomes a run's profile only when whole.
TEST(PtrunProfile, TakesOnlyAWholeProfile) {
    nlohmann::json good = {{"profile_format", 1}, {"module_ms", nlohmann::json::object()},
                           {"module_counters", nullptr}, {"counters_unavailable", "no PMU"}};
    for (const char* module : {"copy", "dates", "words", "parse", "library", "database"}) {
        good["module_ms"][module] = 0.25;
    }
    nlohmann::json counted = good;
    counted["counters_unavailable"] = nullptr;
    for (const char* module : {"copy", "dates", "words", "parse", "library", "database"}) {
        counted["module_counters"][module] = {{"instructions", 9e5}, {"cycles", 1e6}, {"branch_misses", 10},
                                              {"l1i_misses", 20}, {"itlb_misses", nullptr}};
    }
    auto with = [](nlohmann::json j, const char* at, const nlohmann::json& value) {
        j[nlohmann::json::json_pointer(at)] = value;
        return j.dump();
    };
    const std::vector<std::pair<std::string, std::string>> cases = {
        {good.dump(), ""},
        {counted.dump(), ""},
        {"run 1 setup f0f48d84a627fa4a\n", "ptverify printed no profile it knows"},
        {with(good, "/profile_format", 2), "ptverify printed no profile it knows"},
        {with(good, "/profile_format", "1"), "ptverify printed no profile it knows"},
        {with(good, "/module_ms/parse", -1), "ptverify's profile is broken: parse: not a time"},
        {with(good, "/module_ms/zip", 1), "ptverify's profile is broken: not an object of the six modules"},
        {with(counted, "/module_counters/words/cycles", "many"),
         "ptverify's profile is broken: words.cycles: not a count or null"},
        {with(good, "/counters_unavailable", 3), "ptverify's profile is broken: counters_unavailable: not a text"},
    };
    for (const auto& [output, problem] : cases) {
        const ptrun::CopyProfile profile = ptrun::read_profile(output);
        EXPECT_EQ(profile.problem, problem) << output;
        EXPECT_EQ(profile.module_ms.has_value(), problem.empty()) << output;
    }
    const ptrun::CopyProfile profile = ptrun::read_profile(counted.dump());
    EXPECT_EQ((*profile.module_counters)[3][0], 9e5);
    EXPECT_FALSE((*profile.module_counters)[3][4]) << "an event not counted is none, never 0";
    EXPECT_EQ(ptrun::read_profile(good.dump()).counters_unavailable, "no PMU");
}
