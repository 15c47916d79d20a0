#include "decide/compare.h"

#include <algorithm>

#include "decide/analyse.h"
#include "decide/comparisons.h"

namespace ptrun {

namespace {

template <typename Item>
std::vector<std::string> ids_of(const std::vector<Item>& items) {
    std::vector<std::string> ids;
    for (const Item& item : items) ids.push_back(item.id);
    return ids;
}

std::string joined_ids(const std::vector<std::string>& ids) {
    std::string text;
    for (const std::string& id : ids) text += (text.empty() ? "" : ", ") + id;
    return text;
}

// The id asked for, else the first; empty (and why) when the file has no such id.
std::string choose(const std::vector<std::string>& ids, const std::string& asked, const std::string& file,
                   const char* what, std::string& error) {
    if (ids.empty()) {
        error = file + " names no " + what;
        return "";
    }
    if (asked.empty()) return ids.front();
    if (std::find(ids.begin(), ids.end(), asked) != ids.end()) return asked;
    error = file + " has no " + what + " " + asked + " (it has " + joined_ids(ids) + ")";
    return "";
}

ComparedBuild compared(const std::string& role, const Source& side, const std::string& host, const std::string& id) {
    ComparedBuild build{role, side.file, host, id, "", ""};
    for (const Build& b : side.document.builds) {
        if (b.id != id) continue;
        build.line = b.line;
        build.sha256 = b.sha256;
    }
    return build;
}

struct Sides {
    std::string a_host, b_host, a_id;
    std::vector<std::string> b_ids;
};

// Which host and build each side is; false, and why, where a file has no such.
bool choose_sides(const Source& a, const Source& b, const CompareRequest& request, Sides& sides, std::string& error) {
    sides.a_host = choose(ids_of(a.document.hosts), request.a_host, a.file, "host", error);
    if (sides.a_host.empty()) return false;
    sides.b_host = choose(ids_of(b.document.hosts), request.b_host, b.file, "host", error);
    if (sides.b_host.empty()) return false;
    sides.a_id = choose(ids_of(a.document.builds), request.a_build, a.file, "build", error);
    if (sides.a_id.empty()) return false;
    sides.b_ids = ids_of(b.document.builds);
    if (!request.b_build.empty()) {
        const std::string b_id = choose(sides.b_ids, request.b_build, b.file, "build", error);
        if (b_id.empty()) return false;
        sides.b_ids = {b_id};
    }
    return true;
}

}  // namespace

std::optional<Comparison> compare_files(std::vector<Source>& sources, const CompareRequest& request,
                                        std::string& error) {
    // The comparison needs the rounds alone: the summaries, standings and the
    // files' own comparisons would be thrown away.
    for (Source& source : sources) analyse(source.document, kRoundsOnly);
    const Source& a = sources.front();
    const Source& b = sources.back();
    Sides sides;
    if (!choose_sides(a, b, request, sides, error)) return std::nullopt;
    Comparison result;
    result.exclude_flagged = request.exclude_flagged;
    result.gate_rule = request.gate;
    // One file: A and B are builds (or hosts) of it.
    result.one_call = sources.size() == 1 && sides.a_host == sides.b_host;
    if (result.one_call) {
        std::erase(sides.b_ids, sides.a_id);
        if (sides.b_ids.empty() && !request.b_build.empty()) {
            error = "A and B are both build " + sides.a_id + " of " + a.file + ": name two builds, or two hosts";
            return std::nullopt;
        }
        if (sides.b_ids.empty()) {
            error = a.file + " holds one build: compare it with a second file";
            return std::nullopt;
        }
    } else if (request.a_build.empty() && a.document.builds.size() > 1) {
        result.notes.push_back(a.file + " holds builds " + joined_ids(ids_of(a.document.builds)) + ": A is its build " +
                               sides.a_id + " (choose with --a-build)");
    }
    // Two files may use the same build ids: there A and B name the files' sides.
    const bool two_files = sources.size() == 2;
    const auto label = [&](const std::string& side, const std::string& id) {
        return !two_files ? id : sides.b_ids.size() == 1 || side == "A" ? side : side + ":" + id;
    };
    for (const std::string& b_id : sides.b_ids) {
        for (ComparisonEntry entry : compare_sides({&a.document, sides.a_host, sides.a_id, "", nullptr},
                                                   {&b.document, sides.b_host, b_id, "", nullptr},
                                                   request.exclude_flagged)) {
            entry.a = label("A", sides.a_id);
            entry.b = label("B", b_id);
            result.entries.push_back(std::move(entry));
        }
    }
    if (result.entries.empty()) {
        error = "no copy count in common: " + a.file + " and " + b.file +
                " have no copy count with scored rounds (outside warm-up) of both builds";
        return std::nullopt;
    }
    result.builds.push_back(compared(label("A", sides.a_id), a, sides.a_host, sides.a_id));
    for (const std::string& b_id : sides.b_ids) {
        result.builds.push_back(compared(label("B", b_id), b, sides.b_host, b_id));
    }
    if (request.gate) result.gate = fold_gate(result.entries, request.gate->percent, request.gate->strict);
    return result;
}

std::string entry_name(const ComparisonEntry& entry) { return entry.b + ", " + copies_text(entry.copies); }

}  // namespace ptrun
