#include "model/merge.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <tuple>
#include <map>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "model/model.h"
#include "model/reader.h"
#include "model/writer.h"

namespace ptrun {

namespace {

// A number's bits: exactly what the reader gave, and no decimal text to make.
std::string number(double value) {
    char bits[sizeof value];
    std::memcpy(bits, &value, sizeof value);
    return {bits, sizeof bits};
}

// Two host entries are one host when they agree on all they describe but
// what changes from run to run (the load average, the temperatures, the
// processors' clocks): each call keeps its own kernel, governor, microcode,
// SMT, boost and mitigations, which a history lists at its changes.
std::string host_identity(const Host& host) {
    std::string identity = host.hostname;
    if (host.machine) {
        const Machine& m = *host.machine;
        const Environment& e = m.environment;
        identity += '\n' + m.processor + '\n' + m.kernel + '\n' + std::to_string(m.online) + '\n' +
                    std::to_string(m.memory_bytes) + '\n' + m.governor + '\n' + m.emulator + '\n' +
                    e.smt.value_or("-") + '\n' + e.microcode.value_or("-") + '\n' + e.boost.value_or("-") + '\n' +
                    e.hypervisor.value_or("-");
        for (const auto& [name, state] : e.vulnerabilities) identity += '\n' + name + '=' + state;
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

std::uint64_t hash_of(const std::string& text) {
    Digest digest;
    digest.add(text);
    return digest.value();
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

// What a source says of a call, in parts, each a digest that depends neither
// on the order of its runs nor on the ids this file gave its host and builds:
// two sources of one call id must agree on all of it.
struct CallPrint {
    std::string file;
    std::uint64_t outcome = 0, host = 0, builds = 0, runs = 0;

    std::optional<std::string> differs(const CallPrint& other) const {
        if (host != other.host) {
            return "on different hosts (hostname, processor, kernel, memory or the settings it ran under)";
        }
        if (builds != other.builds) return "with different builds (path, sha256, build line or validation)";
        if (outcome != other.outcome) return "with a different outcome or start";
        if (runs != other.runs) return "with different runs";
        return std::nullopt;
    }
};

using HostsById = std::unordered_map<std::string, const Host*>;
using BuildsById = std::unordered_map<std::string, const Build*>;

std::string recorded(const CallRecord& call, const std::string& id) {
    for (const auto& [in_call, here] : call.builds) {
        if (here == id) return in_call;
    }
    return id;
}

// contents: the digest of each run's content, in the order of runs.
CallPrint fingerprint(const std::string& file, const CallRecord& call, const std::vector<RunRecord*>& runs,
                      const HostsById& hosts, const BuildsById& builds, std::vector<std::uint64_t>& contents) {
    CallPrint print{file};
    print.outcome = hash_of(call.outcome + '\n' + call.no_results_reason.value_or("") + '\n' + call.started_utc);
    const auto host = hosts.find(call.host);
    print.host = hash_of(call.recorded_host + '\n' + (host == hosts.end() ? "" : host_identity(*host->second)));
    std::string described;
    for (const auto& [in_call, id] : call.builds) {  // in the order of the call's own ids
        const auto build = builds.find(id);
        described += in_call + '\n' + (build == builds.end() ? "" : build_identity(*build->second)) + '\n';
    }
    print.builds = hash_of(described);
    std::vector<std::uint64_t> lines;
    lines.reserve(runs.size());
    contents.clear();
    for (const RunRecord* run : runs) {
        contents.push_back(hash_of(run_content(*run)));
        const std::string identity = run_identity(*run, recorded(call, run->build));
        lines.push_back(hash_of(identity + ' ' + std::to_string(contents.back())));
    }
    std::sort(lines.begin(), lines.end());
    Digest digest;
    for (const std::uint64_t line : lines) digest.add(std::to_string(line) + '\n');
    print.runs = hash_of(digest.hex());
    return print;
}

class Merger {
public:
    Document out;
    MergeCount count;

    // The source's runs are kept or dropped where they are and then moved
    // over whole: the source is not read again.
    void add(Source& source) {
        Document& doc = source.document;
        std::unordered_map<std::string, std::vector<RunRecord*>> runs_of_call;
        for (RunRecord& run : doc.runs) runs_of_call[run.call_id].push_back(&run);
        HostsById hosts;
        BuildsById builds;
        for (const Host& host : doc.hosts) hosts.emplace(host.id, &host);
        for (const Build& build : doc.builds) builds.emplace(build.id, &build);
        std::vector<bool> keep(doc.runs.size(), false);
        std::vector<std::uint64_t> contents;
        for (const CallRecord& call : doc.calls) {
            const std::vector<RunRecord*>& runs = runs_of_call[call.call_id];
            const CallPrint print = fingerprint(source.file, call, runs, hosts, builds, contents);
            const auto [seen, added] = calls_.try_emplace(call.call_id, print);
            if (!added) {
                if (const auto what = seen->second.differs(print)) {
                    throw MergeConflict("call " + call.call_id + " is in " + seen->second.file + " and in " +
                                        source.file + " " + *what);
                }
                count.duplicates += runs.size();
                continue;
            }
            add_call(source.file, call, runs, contents, hosts, builds);
            for (const RunRecord* run : runs) {
                keep[static_cast<std::size_t>(run - doc.runs.data())] = !run->call_id.empty();
            }
        }
        std::size_t kept = 0;
        for (std::size_t i = 0; i < doc.runs.size(); ++i) {
            if (!keep[i]) continue;
            if (kept != i) doc.runs[kept] = std::move(doc.runs[i]);
            ++kept;
        }
        doc.runs.resize(kept);
        if (out.runs.empty()) {
            out.runs = std::move(doc.runs);
        } else {
            out.runs.insert(out.runs.end(), std::make_move_iterator(doc.runs.begin()),
                            std::make_move_iterator(doc.runs.end()));
        }
        doc = Document{};
    }

private:
    std::unordered_map<std::string, CallPrint> calls_;
    std::unordered_map<std::string, std::string> host_ids_, build_ids_;  // identity -> id here
    std::unordered_map<std::string, std::uint32_t> numbers_;             // recorded build ids
    Ids host_names_, build_names_;

    std::uint32_t number_of(const std::string& text) {
        return numbers_.try_emplace(text, static_cast<std::uint32_t>(numbers_.size())).first->second;
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

    // The call's runs are given their ids here; one read twice in the file is
    // marked to be dropped (an empty call id).
    void add_call(const std::string& file, CallRecord call, const std::vector<RunRecord*>& runs,
                  const std::vector<std::uint64_t>& contents, const HostsById& hosts, const BuildsById& builds) {
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
        // A run read twice can only be one of this call's own (a call read
        // twice was counted once above): its runs sorted by place, the first
        // of each place in the file is kept.
        struct Placed {
            std::uint64_t place;       // round, copy count and copy
            std::uint32_t build, at;   // the build as the call named it (a number given here); the run
            auto order() const { return std::tie(build, place, at); }
            bool same(const Placed& o) const { return build == o.build && place == o.place; }
        };
        std::vector<Placed> places;
        places.reserve(runs.size());
        for (std::size_t i = 0; i < runs.size(); ++i) {
            const RunRecord& run = *runs[i];
            const auto build = here.find(run.build);
            const std::string& recorded_id = build == here.end() ? run.build : build->second.first;
            places.push_back({std::uint64_t(unsigned(run.round)) << 22 | std::uint64_t(run.copies) << 11 |
                                  std::uint64_t(run.copy),
                              number_of(recorded_id), static_cast<std::uint32_t>(i)});
        }
        std::sort(places.begin(), places.end(), [](const Placed& x, const Placed& y) { return x.order() < y.order(); });
        for (std::size_t k = 1, first = 0; k < places.size(); ++k) {
            if (!places[k].same(places[first])) {
                first = k;
                continue;
            }
            RunRecord& run = *runs[places[k].at];
            if (contents[places[k].at] != contents[places[first].at]) {
                throw MergeConflict(file + " holds copy " + std::to_string(run.copy) + " of round " +
                                    std::to_string(run.round) + " of call " + run.call_id +
                                    " twice, with different contents");
            }
            ++count.duplicates;
            run.call_id.clear();  // not kept
        }
        for (RunRecord* run : runs) {
            if (run->call_id.empty()) continue;
            const auto build = here.find(run->build);
            run->host = call.host;
            if (build != here.end()) run->build = build->second.second;
        }
        out.calls.push_back(std::move(call));
    }
};

// A night on which every host failed is not a merge: its file would say
// nothing ran, and a run of the fleet must not look like a success.
std::string nothing_ran(const Document& out) {
    std::string why;
    for (const CallRecord& call : out.calls) {
        why += (why.empty() ? "" : "; ") + call.host + ": " + call.no_results_reason.value_or(call.outcome);
    }
    return "no call ran a build (" + (why.empty() ? std::string("no calls") : why) + ")";
}

}  // namespace

Document merge_documents(std::vector<Source> sources, MergeCount* count) {
    Document out;
    {  // the merger's indexes go before the caller computes the figures
        Merger merger;
        for (Source& source : sources) merger.add(source);
        merger.count.runs = merger.out.runs.size();
        if (count != nullptr) *count = merger.count;
        out = std::move(merger.out);
    }
    if (out.builds.empty()) throw MergeConflict(nothing_ran(out));
    out.merged = true;
    if (!sources.empty()) out.pt_version = sources.front().document.pt_version;
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
