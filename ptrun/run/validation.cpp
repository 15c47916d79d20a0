#include "run/validation.h"

#include <cmath>
#include <cstdio>
#include <optional>
#include <sstream>

#include "build_info.h"
#include "driver/pinned_digests.h"
#include "system/process.h"
#include "system/signals.h"

namespace ptrun {

namespace {

constexpr int kVerifySecondsAllowed = 120;
constexpr std::size_t kVerifierOutputKept = 64 * 1024;

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

}  // namespace

Validation check_digests(const std::string& output) {
    const std::vector<std::string> pinned = lines_of(kPinnedDigests);
    const std::vector<std::string> got = lines_of(output);
    for (std::size_t i = 0; i < pinned.size(); ++i) {
        const std::string point = pinned[i].substr(0, pinned[i].rfind(' '));
        const std::string digest = pinned[i].substr(point.size() + 1);
        if (i >= got.size()) return {false, "ptverify printed no digest for " + point};
        if (got[i] == pinned[i]) continue;
        if (got[i].rfind(point + " ", 0) != 0) {
            return {false, "ptverify printed \"" + got[i] + "\" where the digest of " + point + " belongs"};
        }
        return {false, "the digest of " + point + " is " + got[i].substr(point.size() + 1) + ", the defined work's " +
                           digest + ": this build computes other work"};
    }
    if (got.size() != pinned.size()) return {false, "ptverify printed more than the digests asked for"};
    return {true, "ptverify's digests of the set-up and " + std::to_string(kPinnedUnits) +
                      " work units are those of the defined work"};
}

VerifierOutput verifier_output(const std::vector<std::string>& command, double seconds_allowed) {
    VerifierOutput result;
    Launch launch;
    launch.command = command;
    const Captured run = capture(launch, kVerifierOutputKept, seconds_allowed);
    result.output = run.output;
    result.interrupted = run.end == Captured::End::stopped;
    switch (run.end) {
        case Captured::End::not_started: result.problem = "cannot be started: " + run.error; break;
        case Captured::End::too_much:
            result.problem = "printed more than " + std::to_string(kVerifierOutputKept / 1024) + " KiB";
            break;
        case Captured::End::too_long:
            result.problem = "did not end within " + std::to_string(std::lround(seconds_allowed)) + " s";
            break;
        case Captured::End::exited:
            if (!run.succeeded()) result.problem = "failed";
            break;
        case Captured::End::stopped: break;
    }
    return result;
}

Validation validate_build(const Build& build) {
    // Also what a build described while the signal came says, whatever it lacks.
    if (stop_signal() != 0) return {false, "interrupted"};
    if (build.verifier.empty()) {
        return {false,
                "no ptverify that answers --version beside pt or in ../tools of a build tree: the work cannot "
                "be checked"};
    }
    const VerifierOutput run =
        verifier_output({build.verifier, "--units", std::to_string(kPinnedUnits)}, kVerifySecondsAllowed);
    if (run.interrupted) return {false, "interrupted"};
    if (!run.problem.empty()) return {false, build.verifier + " " + run.problem};
    Validation validation = check_digests(run.output);
    if (!validation.validated && !build.info.version.empty() && build.info.version != PT_VERSION) {
        validation.why += " (pt " + build.info.version + " against the work of pt " + PT_VERSION + ")";
    }
    return validation;
}

bool validate_builds(std::vector<Build>& builds, bool allow_unvalidated) {
    bool refused = false;
    for (Build& build : builds) {
        const Validation validation = validate_build(build);
        build.validated = validation.validated;
        build.validation = validation.why;
        // The run that follows ends the call on the signal, as before any
        // round; every build left says it was interrupted.
        if (build.validated || stop_signal() != 0) continue;
        if (allow_unvalidated) {
            std::fprintf(stderr, "ptrun: warning: build %s (%s) is not validated: %s; its figures are marked\n",
                         build.id.c_str(), build.path.c_str(), build.validation.c_str());
        } else {
            std::fprintf(stderr,
                         "ptrun: build %s (%s) is not validated: %s. Its scores would not be scores of pt's "
                         "work; --allow-unvalidated runs it anyway, its figures marked\n",
                         build.id.c_str(), build.path.c_str(), build.validation.c_str());
            refused = true;
        }
    }
    return !refused || stop_signal() != 0;
}

}  // namespace ptrun
