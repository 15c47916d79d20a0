#include "merge.h"

#include <cstdio>
#include <map>
#include <set>

#include "output.h"

namespace ptrun {

namespace {

std::string text_of(const Json& object, const char* key) {
    return object.is_object() && object.contains(key) && object[key].is_string() ? object[key].get<std::string>() : "";
}

// What the call said about itself, kept for each call of a merged file.
Json call_entry(const Json& doc) {
    Json call;
    call["call_id"] = text_of(doc, "call_id");
    for (const char* key : {"started_utc", "ended_utc", "outcome", "command_line", "ptrun_version", "settings",
                            "stopped_because", "reportable", "reportable_reasons", "citation", "upgraded_from"}) {
        if (doc.contains(key)) call[key] = doc[key];
    }
    call["host"] = doc.contains("host") ? doc["host"].value("id", "") : "";
    return call;
}

std::vector<Json> calls_of(const Json& doc) {
    if (doc.contains("calls") && doc["calls"].is_array()) return doc["calls"].get<std::vector<Json>>();
    return {call_entry(doc)};
}

std::vector<Json> hosts_of(const Json& doc) {
    if (doc.contains("hosts") && doc["hosts"].is_array() && !doc["hosts"].empty()) {
        return doc["hosts"].get<std::vector<Json>>();
    }
    Json host = doc.value("host", Json::object());
    host["machine"] = doc.value("machine", Json::object());
    return {host};
}

// Two entries are one host when they agree on what does not change between
// calls; the load average and the temperatures do.
std::string host_identity(const Json& host) {
    const Json machine = host.value("machine", Json::object());
    return text_of(host, "hostname") + "\n" + text_of(machine, "processor") + "\n" + text_of(machine, "kernel") + "\n" +
           machine.value("processors_online", Json()).dump() + "\n" + machine.value("memory_bytes", Json()).dump();
}

std::string build_identity(const Json& build) {
    const std::string sha = text_of(build, "sha256");
    return sha.empty() ? text_of(build, "path") + "\n" + text_of(build, "build") : sha;
}

// Adds entry to list unless one with the same identity and id is there;
// an id already taken by something else is made unique. Returns the id the
// entry has in the list.
template <typename Identity>
std::string place(Json& list, Json entry, Identity identity) {
    std::string id = text_of(entry, "id");
    for (const Json& known : list) {
        if (text_of(known, "id") == id && identity(known) == identity(entry)) return id;
    }
    auto taken = [&list](const std::string& candidate) {
        for (const Json& known : list) {
            if (text_of(known, "id") == candidate) return true;
        }
        return false;
    };
    if (taken(id)) {
        int n = 2;
        while (taken(id + "-" + std::to_string(n))) ++n;
        id += "-" + std::to_string(n);
    }
    entry["id"] = id;
    list.push_back(std::move(entry));
    return id;
}

std::string mapped(const std::map<std::string, std::string>& ids, const std::string& id) {
    const auto it = ids.find(id);
    return it == ids.end() ? id : it->second;
}

}  // namespace

Json merge_documents(const std::vector<Json>& documents, MergeCount* count) {
    Json hosts = Json::array(), builds = Json::array(), runs = Json::array(), calls = Json::array();
    Json comparisons = Json::array();
    std::set<std::string> seen_runs, seen_calls, seen_comparisons;
    MergeCount counted;
    for (const Json& doc : documents) {
        std::map<std::string, std::string> host_ids, build_ids;
        for (const Json& host : hosts_of(doc)) {
            if (!host.is_object()) continue;
            host_ids[text_of(host, "id")] = place(hosts, host, host_identity);
        }
        if (doc.contains("builds")) {
            for (const Json& build : doc["builds"]) {
                if (!build.is_object()) continue;
                // The same binary keeps one id, whatever it was called in its call.
                std::string id;
                for (const Json& known : builds) {
                    if (build_identity(known) == build_identity(build)) id = text_of(known, "id");
                }
                build_ids[text_of(build, "id")] = id.empty() ? place(builds, build, build_identity) : id;
            }
        }
        const std::string doc_host = doc.contains("host") ? text_of(doc["host"], "id") : "";
        for (Json run : doc["runs"]) {
            run["host"] = mapped(host_ids, run.contains("host") ? text_of(run, "host") : doc_host);
            run["build"] = mapped(build_ids, run.contains("build") ? text_of(run, "build") : "A");
            if (!run.contains("call_id")) run["call_id"] = text_of(doc, "call_id");
            const std::string key = text_of(run, "call_id") + "\n" + text_of(run, "host") + "\n" +
                                    text_of(run, "build") + "\n" + run["copies"].dump() + "\n" + run["round"].dump() +
                                    "\n" + run["copy"].dump();
            if (!seen_runs.insert(key).second) {
                ++counted.duplicates;
                continue;
            }
            runs.push_back(std::move(run));
        }
        for (Json call : calls_of(doc)) {
            if (!call.is_object()) continue;
            if (!seen_calls.insert(text_of(call, "call_id")).second) continue;
            if (call.contains("host")) call["host"] = mapped(host_ids, text_of(call, "host"));
            calls.push_back(std::move(call));
        }
        if (doc.contains("comparison") && doc["comparison"].is_array()) {
            for (Json entry : doc["comparison"]) {
                if (!entry.is_object()) continue;
                if (!entry.contains("call_id")) entry["call_id"] = text_of(doc, "call_id");
                if (!entry.contains("host")) entry["host"] = doc_host;
                entry["host"] = mapped(host_ids, text_of(entry, "host"));
                entry["a"] = mapped(build_ids, text_of(entry, "a"));
                entry["b"] = mapped(build_ids, text_of(entry, "b"));
                const std::string key = text_of(entry, "call_id") + "\n" + entry.value("copies", Json()).dump() + "\n" +
                                        text_of(entry, "a") + "\n" + text_of(entry, "b");
                if (seen_comparisons.insert(key).second) comparisons.push_back(std::move(entry));
            }
        }
    }
    counted.runs = runs.size();
    if (count != nullptr) *count = counted;

    const Json first = documents.empty() ? Json::object() : documents.front();
    Json merged;
    merged["schema_version"] = kSchemaVersion;
    merged["call_id"] = calls.size() == 1 ? text_of(calls[0], "call_id") : new_call_id();
    for (const char* key : {"ptrun_version", "pt_version"}) merged[key] = first.value(key, Json());
    std::string outcome = "completed", started, ended;
    bool reportable = true, any_reportable = false;
    Json reasons = Json::array();
    for (const Json& call : calls) {
        const std::string o = text_of(call, "outcome");
        if (o == "failed" || (o == "interrupted" && outcome == "completed")) outcome = o;
        const std::string s = text_of(call, "started_utc"), e = text_of(call, "ended_utc");
        if (!s.empty() && (started.empty() || s < started)) started = s;
        if (e > ended) ended = e;
        if (call.contains("reportable")) {
            any_reportable = true;
            reportable = reportable && call["reportable"] == true;
        }
        for (const Json& reason : call.value("reportable_reasons", Json::array())) {
            if (std::find(reasons.begin(), reasons.end(), reason) == reasons.end()) reasons.push_back(reason);
        }
    }
    merged["outcome"] = outcome;
    merged["started_utc"] = started;
    merged["ended_utc"] = ended;
    for (const char* key : {"command_line", "unit", "higher_is_better", "settings", "host", "machine", "pt"}) {
        if (first.contains(key)) merged[key] = first[key];
    }
    if (!hosts.empty())
        merged["host"] = {{"id", hosts[0]["id"]},
                          {"hostname", hosts[0].value("hostname", Json())},
                          {"label", hosts[0].value("label", Json())}};
    if (!builds.empty()) merged["pt"] = builds[0];
    merged["builds"] = builds;
    merged["hosts"] = hosts;
    merged["runs"] = runs;
    merged["stopped_because"] = calls.size() == 1 ? calls[0].value("stopped_because", Json()) : Json("merged");
    if (any_reportable) {
        merged["reportable"] = reportable;
        merged["reportable_reasons"] = reasons;
    }
    if (calls.size() == 1 && calls[0].contains("citation")) merged["citation"] = calls[0]["citation"];
    if (!comparisons.empty()) merged["comparison"] = comparisons;
    merged["calls"] = calls;
    add_figures(merged);
    return merged;
}

std::optional<std::vector<Json>> load_all(const std::vector<std::string>& paths, std::string& error) {
    std::vector<Json> documents;
    for (const std::string& path : paths) {
        std::optional<Json> doc = load_results(path, error);
        if (!doc) return std::nullopt;
        // A field of the wrong type somewhere shows when the figures are made.
        try {
            merge_documents({*doc});
        } catch (const Json::exception& e) {
            error = path + " is not a ptrun results file: " + e.what();
            return std::nullopt;
        }
        documents.push_back(std::move(*doc));
    }
    return documents;
}

int merge_command(const std::vector<std::string>& args) {
    std::vector<std::string> paths;
    std::string out;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "-o" || args[i] == "--output") {
            if (i + 1 == args.size()) usage_error("merge: " + args[i] + " needs a file");
            out = args[++i];
        } else if (args[i].size() > 1 && args[i][0] == '-') {
            usage_error("merge: unknown option " + args[i]);
        } else {
            paths.push_back(args[i]);
        }
    }
    if (paths.empty() || out.empty()) usage_error("merge: usage: ptrun merge FILE... -o OUT");
    std::string error;
    Target target;
    if (!resolve_target(out, target, error)) usage_error(error);
    const std::optional<std::vector<Json>> documents = load_all(paths, error);
    if (!documents) {
        std::fprintf(stderr, "ptrun: %s\n", error.c_str());
        return 2;
    }
    MergeCount count;
    Json merged;
    try {
        merged = merge_documents(*documents, &count);
    } catch (const Json::exception& e) {
        std::fprintf(stderr, "ptrun: cannot merge these files: %s\n", e.what());
        return 2;
    }
    if (!write_output(target, dump(merged), error)) {
        std::fprintf(stderr, "ptrun: %s\n", error.c_str());
        return 2;
    }
    auto counted = [](std::size_t n, const char* what) { return std::to_string(n) + " " + what + (n == 1 ? "" : "s"); };
    std::fprintf(stderr, "ptrun: %s of %s from %s into %s", counted(count.runs, "run").c_str(),
                 counted(merged["calls"].size(), "call").c_str(), counted(merged["hosts"].size(), "host").c_str(),
                 out.c_str());
    if (count.duplicates > 0) std::fprintf(stderr, " (%zu runs read twice, counted once)", count.duplicates);
    std::fprintf(stderr, "\n");
    return 0;
}

}  // namespace ptrun
