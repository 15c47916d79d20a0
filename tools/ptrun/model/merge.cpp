#include "model/merge.h"

#include <algorithm>
#include <cstdio>
#include <unordered_map>
#include <unordered_set>

#include "model/model.h"
#include "model/reader.h"
#include "model/writer.h"

namespace ptrun {

namespace {

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

// Two host entries are one host when they agree on what does not change
// between calls; the load average and the temperatures do.
std::string host_identity(const Host& host) {
    std::string identity = host.hostname;
    if (host.machine) {
        identity += '\n' + host.machine->processor + '\n' + host.machine->kernel + '\n' +
                    std::to_string(host.machine->online) + '\n' + std::to_string(host.machine->memory_bytes);
    }
    return identity;
}

// Everything a build entry says: two builds are one only when they agree on
// all of it, never on the binary's digest alone.
std::string build_identity(const Build& b) {
    return b.path + '\n' + b.sha256 + '\n' + b.line + '\n' + (b.validated ? "1" : "0") + b.validation;
}

// A run's identity within its call, its build named as the call recorded it.
std::string run_identity(const RunRecord& run, const std::string& recorded_build) {
    return run.call_id + '\n' + recorded_build + '\n' + std::to_string(run.copies) + '\n' +
           std::to_string(run.round) + '\n' + std::to_string(run.copy);
}

std::string run_content(const RunRecord& run) {
    return (run.score ? number(*run.score) : "-") + ' ' + number(run.wall_s) + ' ' + number(run.share) + ' ' +
           std::to_string(run.cpu) + ' ' + (run.warmup ? "w" : "") + (run.flagged ? "f" : "") + ' ' +
           run.started_utc + ' ' + run.ended_utc + ' ' + run.error.value_or("");
}

// Ids unique within the merged document; the one the call used where free.
class Ids {
public:
    std::string claim(const std::string& wanted) {
        std::string id = wanted;
        for (int n = 2; !taken_.insert(id).second; ++n) id = wanted + "-" + std::to_string(n);
        return id;
    }

private:
    std::unordered_set<std::string> taken_;
};

class Merger {
public:
    Document out;
    MergeCount count;

    void add(const Source& source) {
        const Document& doc = source.document;
        std::unordered_map<std::string, std::vector<const RunRecord*>> runs_of_call;
        for (const RunRecord& run : doc.runs) runs_of_call[run.call_id].push_back(&run);
        std::unordered_map<std::string, const Host*> hosts;
        std::unordered_map<std::string, const Build*> builds;
        for (const Host& host : doc.hosts) hosts.emplace(host.id, &host);
        for (const Build& build : doc.builds) builds.emplace(build.id, &build);
        for (const CallRecord& call : doc.calls) {
            const std::vector<const RunRecord*>& runs = runs_of_call[call.call_id];
            const std::string print = fingerprint(call, runs);
            const auto [seen, added] = calls_.try_emplace(call.call_id, print, source.file);
            if (!added) {
                if (seen->second.first != print) {
                    throw MergeConflict("call " + call.call_id + " is in " + seen->second.second + " and in " +
                                        source.file + " with different contents");
                }
                count.duplicates += runs.size();
                continue;
            }
            add_call(source.file, call, runs, hosts, builds);
        }
    }

private:
    std::unordered_map<std::string, std::pair<std::string, std::string>> calls_;  // id -> fingerprint, file
    std::unordered_map<std::string, std::string> host_ids_, build_ids_;          // identity -> id here
    std::unordered_map<std::string, std::string> runs_;                           // identity -> content
    Ids host_names_, build_names_;

    static std::string recorded(const CallRecord& call, const std::string& id) {
        for (const auto& [in_call, here] : call.builds) {
            if (here == id) return in_call;
        }
        return id;
    }

    static std::string fingerprint(const CallRecord& call, const std::vector<const RunRecord*>& runs) {
        std::vector<std::string> lines;
        lines.reserve(runs.size());
        for (const RunRecord* run : runs) {
            lines.push_back(run_identity(*run, recorded(call, run->build)) + ' ' + run_content(*run));
        }
        std::sort(lines.begin(), lines.end());
        std::string print = call.outcome + '\n' + call.no_results_reason.value_or("") + '\n' + call.started_utc;
        for (const std::string& line : lines) print += '\n' + line;
        return print;
    }

    std::string place_host(const CallRecord& call, const Host* host) {
        const std::string identity = call.recorded_host + '\n' + (host ? host_identity(*host) : "");
        const auto [it, added] = host_ids_.try_emplace(identity);
        if (added) {
            it->second = host_names_.claim(call.recorded_host);
            Host entry = host ? *host : Host{call.recorded_host, call.recorded_host, std::nullopt, std::nullopt, false};
            entry.id = it->second;
            out.hosts.push_back(std::move(entry));
        }
        return it->second;
    }

    std::string place_build(const std::string& recorded_id, const Build& build) {
        const auto [it, added] = build_ids_.try_emplace(recorded_id + '\n' + build_identity(build));
        if (added) {
            it->second = build_names_.claim(recorded_id);
            Build entry = build;
            entry.id = it->second;
            out.builds.push_back(std::move(entry));
        }
        return it->second;
    }

    void add_call(const std::string& file, CallRecord call, const std::vector<const RunRecord*>& runs,
                  const std::unordered_map<std::string, const Host*>& hosts,
                  const std::unordered_map<std::string, const Build*>& builds) {
        const auto host = hosts.find(call.host);
        call.host = place_host(call, host == hosts.end() ? nullptr : host->second);
        std::unordered_map<std::string, std::pair<std::string, std::string>> here;  // id in file -> recorded, id
        std::map<std::string, std::string> placed;
        for (const auto& [in_call, id] : call.builds) {
            const auto build = builds.find(id);
            if (build == builds.end()) continue;
            placed[in_call] = place_build(in_call, *build->second);
            here[id] = {in_call, placed[in_call]};
        }
        call.builds = placed;
        for (const RunRecord* run : runs) {
            const auto build = here.find(run->build);
            const std::string recorded_id = build == here.end() ? run->build : build->second.first;
            const auto [seen, added] = runs_.try_emplace(run_identity(*run, recorded_id), run_content(*run));
            if (!added) {
                if (seen->second != run_content(*run)) {
                    throw MergeConflict(file + " holds copy " + std::to_string(run->copy) + " of round " +
                                        std::to_string(run->round) + " of call " + run->call_id +
                                        " twice, with different contents");
                }
                ++count.duplicates;
                continue;
            }
            RunRecord copy = *run;
            copy.host = call.host;
            if (build != here.end()) copy.build = build->second.second;
            out.runs.push_back(std::move(copy));
        }
        out.calls.push_back(std::move(call));
    }
};

// The merged document's own fields, from its calls.
void describe_merge(Document& out, const Document& first) {
    out.merged = true;
    std::vector<std::string> ids;
    for (const CallRecord& call : out.calls) ids.push_back(call.call_id);
    std::sort(ids.begin(), ids.end());
    std::string joined;
    for (const std::string& id : ids) joined += id + '\n';
    // The same calls make the same id, so that a merge merged again is the same file.
    out.call_id = out.calls.size() == 1 ? out.calls[0].call_id : hex_digest(joined);
    out.ptrun_version = first.ptrun_version;
    out.pt_version = first.pt_version;
    out.outcome = "completed";
    for (const CallRecord& call : out.calls) {
        if (call.outcome == "failed" || call.outcome == kNoResults) out.outcome = "failed";
        if (call.outcome == "interrupted" && out.outcome == "completed") out.outcome = "interrupted";
        if (!call.started_utc.empty() && (out.started_utc.empty() || call.started_utc < out.started_utc)) {
            out.started_utc = call.started_utc;
        }
        out.ended_utc = std::max(out.ended_utc, call.ended_utc);
    }
    if (out.calls.size() == 1) {
        out.command_line = out.calls[0].command_line;
        out.settings = out.calls[0].settings;
        out.stopped_because = out.calls[0].stopped_because;
        out.upgraded_from = out.calls[0].upgraded_from;
        out.no_results_reason = out.calls[0].no_results_reason;
    } else {
        out.command_line = first.command_line;
        out.settings = first.settings;
        out.stopped_because = "merged";
    }
}

}  // namespace

Document merge_documents(const std::vector<Source>& sources, MergeCount* count) {
    Merger merger;
    for (const Source& source : sources) merger.add(source);
    merger.count.runs = merger.out.runs.size();
    if (count != nullptr) *count = merger.count;
    Document out = std::move(merger.out);
    describe_merge(out, sources.empty() ? Document{} : sources.front().document);
    return out;
}

std::optional<std::vector<Source>> load_all(const std::vector<std::string>& paths, std::string& error) {
    std::vector<Source> sources;
    for (const std::string& path : paths) {
        std::optional<Document> doc = load_results(path, error);
        if (!doc) return std::nullopt;
        sources.push_back({path, std::move(*doc)});
    }
    return sources;
}

}  // namespace ptrun
