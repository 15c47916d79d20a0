#include "compare.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "results.h"
#include "stats.h"
#include "table.h"

namespace ptrun {

namespace {

constexpr const char* kUsage =
    "usage: ptrun compare A.json [B.json] [options]\n"
    "B against A for every copy count both have: the ratio of medians with its interval, the two-sided rank-sum\n"
    "test and a verdict. One file compares each of its builds with its first.\n"
    "  --a-build ID / --b-build ID  the build of A / of B (default: A's first; every build of B)\n"
    "  --a-host ID / --b-host ID    the host of A / of B in a file of several hosts (default: the first)\n"
    "  --fail-above PCT             exit 1 when B is shown slower than A by more than PCT percent\n"
    "exit status: 0 compared (gate passed), 1 gate failed, 2 bad input or a gate that cannot decide\n";

struct Side {
    std::string file;
    Json doc;
};

std::vector<std::string> ids_of(const Json& doc, const char* list) {
    std::vector<std::string> ids;
    if (!doc.contains(list) || !doc[list].is_array()) return ids;
    for (const Json& entry : doc[list]) {
        if (entry.is_object() && entry.contains("id") && entry["id"].is_string()) ids.push_back(entry["id"]);
    }
    return ids;
}

std::string joined(const std::vector<std::string>& ids) {
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
    for (const std::string& id : ids) {
        if (id == asked) return id;
    }
    error = file + " has no " + what + " " + asked + " (it has " + joined(ids) + ")";
    return "";
}

const Json& build_of(const Json& doc, const std::string& id) {
    for (const Json& build : doc["builds"]) {
        if (build.value("id", "") == id) return build;
    }
    return doc["pt"];
}

// "B, 2 copies": the build and copy count an entry is about.
std::string who_of(const Json& entry) {
    const int copies = entry["copies"].get<int>();
    return entry["b"].get<std::string>() + ", " + std::to_string(copies) + (copies == 1 ? " copy" : " copies");
}

int bad_input(const std::string& message) {
    std::fprintf(stderr, "ptrun compare: %s\n", message.c_str());
    return kCompareBadInput;
}

int compare(const std::vector<std::string>& args) {
    std::vector<std::string> files;
    std::string a_build, b_build, a_host, b_host;
    std::optional<double> fail_above;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return kCompareOk;
        }
        if (arg.rfind("--", 0) != 0) {
            files.push_back(arg);
            continue;
        }
        if (i + 1 >= args.size()) return bad_input(arg + " needs a value\n" + kUsage);
        const std::string& value = args[++i];
        if (arg == "--a-build") {
            a_build = value;
        } else if (arg == "--b-build") {
            b_build = value;
        } else if (arg == "--a-host") {
            a_host = value;
        } else if (arg == "--b-host") {
            b_host = value;
        } else if (arg == "--fail-above") {
            char* end = nullptr;
            const double pct = std::strtod(value.c_str(), &end);
            if (end == value.c_str() || *end != '\0' || !(pct >= 0 && pct < 100)) {
                return bad_input("bad --fail-above \"" + value + "\": a percentage from 0 to below 100");
            }
            fail_above = pct;
        } else {
            return bad_input("unknown option " + arg + "\n" + kUsage);
        }
    }
    if (files.empty() || files.size() > 2) return bad_input(std::string("one or two results files\n") + kUsage);

    std::vector<Side> sides;
    for (const std::string& file : files) {
        std::string error;
        std::optional<Json> doc = load_results(file, error);
        if (!doc) return bad_input(error);
        add_figures(*doc);  // the rounds from the runs, whoever wrote the file
        sides.push_back({file, std::move(*doc)});
    }
    // One file: A and B are builds (or hosts) of it.
    const Side& a = sides.front();
    const Side& b = sides.back();
    std::string error;
    const std::string a_host_id = choose(ids_of(a.doc, "hosts"), a_host, a.file, "host", error);
    if (a_host_id.empty()) return bad_input(error);
    const std::string b_host_id = choose(ids_of(b.doc, "hosts"), b_host, b.file, "host", error);
    if (b_host_id.empty()) return bad_input(error);
    const std::vector<std::string> a_ids = ids_of(a.doc, "builds");
    const std::string a_id = choose(a_ids, a_build, a.file, "build", error);
    if (a_id.empty()) return bad_input(error);
    std::vector<std::string> b_ids = ids_of(b.doc, "builds");
    if (!b_build.empty()) {
        const std::string b_id = choose(b_ids, b_build, b.file, "build", error);
        if (b_id.empty()) return bad_input(error);
        b_ids = {b_id};
    }
    if (files.size() == 1 && a_host_id == b_host_id) {
        std::erase(b_ids, a_id);
        if (b_ids.empty()) return bad_input(a.file + " holds one build: compare it with a second file");
    } else if (a_build.empty() && a_ids.size() > 1) {
        std::fprintf(stderr, "ptrun compare: %s holds builds %s: A is its build %s (choose with --a-build)\n",
                     a.file.c_str(), joined(a_ids).c_str(), a_id.c_str());
    }

    // Two files may use the same build ids: there A and B name the files' sides.
    const bool two_files = files.size() == 2;
    auto label = [&](const char* side, const std::string& id) {
        return !two_files ? id : b_ids.size() == 1 || side[0] == 'A' ? std::string(side) : side + (":" + id);
    };
    Json entries = Json::array();
    for (const std::string& b_id : b_ids) {
        for (Json entry : comparison_entries(a.doc, a_host_id, a_id, b.doc, b_host_id, b_id)) {
            entry["a"] = label("A", a_id);
            entry["b"] = label("B", b_id);
            entries.push_back(entry);
        }
    }
    if (entries.empty()) {
        return bad_input("no copy count in common: " + a.file + " and " + b.file +
                         " have no copy count with scored rounds (outside warm-up) of both builds");
    }

    const bool one_call = files.size() == 1 && a_host_id == b_host_id;
    auto describe = [](const char* role, const Side& side, const std::string& host, const std::string& id) {
        const Json& build = build_of(side.doc, id);
        std::printf("%-4s %s: build %s on %s\n     %s\n     sha256 %s\n", role, side.file.c_str(), id.c_str(),
                    host.c_str(), build.value("build", "unknown").c_str(),
                    build.value("sha256", "unknown").c_str());
    };
    describe(label("A", a_id).c_str(), a, a_host_id, a_id);
    for (const std::string& b_id : b_ids) describe(label("B", b_id).c_str(), b, b_host_id, b_id);
    std::vector<std::string> warned;
    for (const Json& entry : entries) {
        const std::string b_id = entry["b"].get<std::string>();
        if (entry["differences"].empty() || std::find(warned.begin(), warned.end(), b_id) != warned.end()) continue;
        warned.push_back(b_id);
        std::string what;
        for (const Json& d : entry["differences"]) what += (what.empty() ? "" : ", ") + d["what"].get<std::string>();
        std::fprintf(stderr, "ptrun compare: warning: %s and %s differ in %s%s\n",
                     entry["a"].get<std::string>().c_str(), b_id.c_str(), what.c_str(),
                     one_call ? " (builds of one call, meant to differ)" : "");
    }
    std::printf("\n");
    print_comparison(stdout, entries);
    std::fflush(stdout);

    if (!fail_above) return kCompareOk;
    const double bound = 1 - *fail_above / 100;
    bool failed = false, undecided = false;
    for (const Json& entry : entries) {
        const double ratio = entry["ratio"].get<double>();
        const std::string who = who_of(entry);
        if (!entry["decidable"].get<bool>()) {
            undecided = true;
            std::fprintf(stderr, "ptrun compare: gate: %s: too few runs to decide (%d against %d)\n", who.c_str(),
                         entry["n_a"].get<int>(), entry["n_b"].get<int>());
        } else if (entry["verdict"] == "slower" && ratio < bound) {
            failed = true;
            std::fprintf(stderr, "ptrun compare: gate failed: %s: slower by %.1f %%, more than %g %% (p = %.4f)\n",
                         who.c_str(), (1 - ratio) * 100, *fail_above, entry["p_value"].get<double>());
        }
    }
    if (failed) return kCompareGateFailed;
    if (undecided) {
        std::fprintf(stderr, "ptrun compare: the gate cannot decide: run at least 4 rounds of each build\n");
        return kCompareBadInput;
    }
    std::fprintf(stderr, "ptrun compare: gate passed: B is not shown slower than A by more than %g %%\n",
                 *fail_above);
    for (const Json& entry : entries) {
        // Passed, but not because the runs could have seen such a slowdown.
        if (entry["ratio_low"].get<double>() < bound) {
            std::fprintf(stderr, "ptrun compare: note: %s: the interval reaches %.1f %% below A, so these rounds "
                         "cannot rule out a slowdown of more than %g %%\n",
                         who_of(entry).c_str(), (1 - entry["ratio_low"].get<double>()) * 100, *fail_above);
        }
    }
    return kCompareOk;
}

}  // namespace

int compare_command(const std::vector<std::string>& args) {
    try {
        return compare(args);
    } catch (const nlohmann::json::exception& e) {
        // A file that passed the first checks but holds a field of another type.
        return bad_input(std::string("not a ptrun results file: ") + e.what());
    }
}

}  // namespace ptrun
