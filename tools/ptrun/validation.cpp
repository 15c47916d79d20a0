#include "validation.h"

#include <cstdio>
#include <optional>
#include <sstream>

#include "build_info.h"
#include "driver/pinned_digests.h"

namespace ptrun {

namespace {

constexpr int kVerifySecondsAllowed = 120;

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

Validation validate_build(const Build& build) {
    if (build.verifier.empty()) {
        return {false,
                "no ptverify that answers --version beside pt or in ../tools of a build tree: the work cannot "
                "be checked"};
    }
    const std::optional<std::string> output =
        output_of({build.verifier, "--units", std::to_string(kPinnedUnits)}, kVerifySecondsAllowed);
    if (!output) {
        return {false,
                build.verifier + " failed or did not end within " + std::to_string(kVerifySecondsAllowed) + " s"};
    }
    Validation validation = check_digests(*output);
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
        if (build.validated) continue;
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
    return !refused;
}

}  // namespace ptrun
