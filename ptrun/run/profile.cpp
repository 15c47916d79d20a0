#include "run/profile.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <nlohmann/json.hpp>

#include "driver/profile.h"
#include "system/process.h"
#include "system/signals.h"

namespace ptrun {

namespace {

using Json = nlohmann::json;

static_assert(kModuleCount == kWorkStepCount && kEventCount == kCounterEventCount,
              "the results file names every module and event the profile measures");

constexpr std::size_t kProfileBytesKept = 64 * 1024;
constexpr double kProfileGraceSeconds = 5;
// Beyond its budget, a profile has the set-up, the warm-up and its start.
constexpr double kProfileSlackSeconds = 30;

bool is_count(const Json& value) { return value.is_number() && std::isfinite(value.get<double>()) && value >= 0; }

// The six modules, each a count; or why not.
std::string read_modules(const Json& object, const std::function<std::string(std::size_t, const Json&)>& read) {
    if (!object.is_object() || object.size() != kModuleCount) return "not an object of the six modules";
    for (std::size_t m = 0; m < kModuleCount; ++m) {
        const auto it = object.find(kModuleNames[m]);
        if (it == object.end()) return std::string("no ") + kModuleNames[m];
        if (std::string problem = read(m, *it); !problem.empty()) return std::string(kModuleNames[m]) + problem;
    }
    return "";
}

std::string read_counters(const Json& object, ModuleCounters& counters) {
    return read_modules(object, [&counters](std::size_t m, const Json& events) -> std::string {
        if (!events.is_object() || events.size() != kEventCount) return ": not an object of the five events";
        for (std::size_t e = 0; e < kEventCount; ++e) {
            const auto it = events.find(kEventNames[e]);
            if (it == events.end() || !(it->is_null() || is_count(*it))) {
                return std::string(".") + kEventNames[e] + ": not a count or null";
            }
            if (!it->is_null()) counters[m][e] = it->get<double>();
        }
        return "";
    });
}

}  // namespace

CopyProfile read_profile(const std::string& output) {
    CopyProfile profile;
    const Json j = Json::parse(output, nullptr, false);
    const bool known = j.is_object() && j.contains("profile_format") && j["profile_format"].is_number_integer() &&
                       j["profile_format"] == 1;
    if (!known) {
        profile.problem = "ptverify printed no profile it knows";
        return profile;
    }
    ModuleTimes times{};
    std::string problem = read_modules(j.contains("module_ms") ? j["module_ms"] : Json(),
                                       [&times](std::size_t m, const Json& value) -> std::string {
                                           if (!is_count(value)) return ": not a time";
                                           times[m] = value.get<double>();
                                           return "";
                                       });
    ModuleCounters counters{};
    const Json none;
    const Json& counted = j.contains("module_counters") ? j["module_counters"] : none;
    if (problem.empty() && !counted.is_null()) problem = read_counters(counted, counters);
    const Json& reason = j.contains("counters_unavailable") ? j["counters_unavailable"] : none;
    if (problem.empty() && !reason.is_null() && !reason.is_string()) problem = "counters_unavailable: not a text";
    if (!problem.empty()) {
        profile.problem = "ptverify's profile is broken: " + problem;
        return profile;
    }
    profile.module_ms = times;
    if (!counted.is_null()) profile.module_counters = counters;
    if (reason.is_string()) profile.counters_unavailable = reason.get<std::string>();
    return profile;
}

std::vector<std::string> profile_command(const std::string& verifier, double run_wall_s) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f", std::max(run_wall_s * kProfileShareOfRun, 0.05));
    return {verifier, "--profile", "--units", std::to_string(kProfileUnits), "--seconds", seconds};
}

namespace {

struct Profiling {
    std::size_t record;
    Process process;
    std::string output;
    bool cut = false;
    double limit_s = 0;
};

void take_profile(Profiling& p, const Ending& ending, RunRecord& run, std::optional<std::string>& unavailable) {
    CopyProfile profile;
    if (ending.exit_code != 0 || p.cut) {
        profile.problem = "ptverify --profile " + std::string(p.cut ? "printed too much" : "failed") +
                          (ending.exit_code >= 0 ? " (exit code " + std::to_string(ending.exit_code) + ")"
                                                 : " (ended by " + ending.ended_by + ")");
    } else {
        profile = read_profile(p.output);
    }
    if (!profile.problem.empty()) {
        if (!unavailable) unavailable = "no profile: " + profile.problem;
        return;
    }
    run.module_ms = profile.module_ms;
    run.module_counters = profile.module_counters;
    if (profile.counters_unavailable && !unavailable) unavailable = profile.counters_unavailable;
}

}  // namespace

bool profile_round(const std::string& verifier, std::vector<RunRecord>& runs, std::size_t first,
                   std::optional<std::string>& counters_unavailable) {
    std::vector<Profiling> profiles;
    for (std::size_t i = first; i < runs.size(); ++i) {
        if (!runs[i].score) continue;
        Launch launch;
        launch.command = profile_command(verifier, runs[i].wall_s);
        launch.cpu = runs[i].cpu;
        launch.output_to_pipe = true;
        launch.end_with_ptrun = true;
        Profiling& p = profiles.emplace_back();
        p.record = i;
        p.limit_s = kProfileSlackSeconds + runs[i].wall_s * kProfileShareOfRun;
        std::string error;
        if (!p.process.start(launch, error)) {
            if (!counters_unavailable) counters_unavailable = "no profile: cannot start " + verifier + ": " + error;
            profiles.pop_back();
        }
    }
    std::vector<Profiling*> running;
    for (Profiling& p : profiles) running.push_back(&p);
    while (!running.empty()) {
        std::vector<const Process*> waited;
        for (const Profiling* p : running) waited.push_back(&p->process);
        wait_for(waited, 1.0);
        if (stop_signal() != 0) break;
        std::erase_if(running, [&](Profiling* p) {
            p->process.read_pipe(p->output, kProfileBytesKept, false, p->cut);
            if (p->process.seconds() > p->limit_s) p->process.force_end();
            Ending ending;
            if (!p->process.reap(ending)) return false;
            p->process.read_pipe(p->output, kProfileBytesKept, false, p->cut);
            take_profile(*p, ending, runs[p->record], counters_unavailable);
            return true;
        });
    }
    std::vector<Process*> left;
    for (Profiling* p : running) left.push_back(&p->process);
    end_all(left, kProfileGraceSeconds);
    return running.empty();
}

}  // namespace ptrun
