#include "run/results.h"

#include <cstdio>

#include "build_info.h"
#include "model/model.h"
#include "system/host.h"

namespace ptrun {

namespace {

std::string hex_of(const unsigned char* bytes, std::size_t n) {
    std::string hex;
    char pair[3];
    for (std::size_t i = 0; i < n; ++i) {
        std::snprintf(pair, sizeof pair, "%02x", bytes[i]);
        hex += pair;
    }
    return hex;
}

CallSettings call_settings(const Settings& settings) {
    CallSettings s;
    s.runs = settings.runs;
    s.copies = settings.copies;
    s.cpus = settings.cpus;
    s.warmup_rounds = settings.warmup_rounds;
    s.until_cv = settings.until_cv;
    if (settings.max_runs > 0) s.max_runs = settings.max_runs;
    if (settings.max_time_s > 0) s.max_time_s = settings.max_time_s;
    s.timeout_s = settings.timeout_s > 0 ? settings.timeout_s : kDefaultTimeoutSeconds;
    s.order = settings.order;
    if (settings.seed) s.seed = *settings.seed;
    return s;
}

}  // namespace

std::string new_call_id() {
    unsigned char bytes[8] = {};
    unpredictable_bytes(bytes, sizeof bytes);
    return hex_of(bytes, sizeof bytes);
}

Document results_document(const Settings& settings, const CallRecord& call, const Machine& machine,
                          const std::vector<Build>& builds, const Session& session) {
    Document doc;
    const std::string host_id = settings.label.empty() ? machine.hostname : settings.label;
    CallRecord& record = doc.calls.emplace_back();
    record.call_id = call.call_id;
    record.ptrun_version = PT_VERSION;
    doc.pt_version = builds.empty() || builds[0].info.version.empty() ? "unknown" : builds[0].info.version;
    record.outcome = outcome_name(session.outcome);
    record.started_utc = call.started_utc;
    record.ended_utc = call.ended_utc;
    record.command_line = settings.command_line;
    record.settings = call_settings(settings);
    record.counters_unavailable =
        settings.profile ? session.counters_unavailable : std::optional<std::string>("no profile: --no-profile");
    Host host{host_id, machine.hostname, std::nullopt, machine, true};
    if (!settings.label.empty()) host.label = settings.label;
    doc.hosts.push_back(host);
    doc.builds = builds;
    doc.runs = session.runs;
    for (RunRecord& run : doc.runs) {
        run.call_id = call.call_id;
        run.host = host_id;
    }
    record.stopped_because = session.stopped_because;
    record.host = record.recorded_host = host_id;
    for (const Build& build : builds) record.builds[build.id] = build.id;
    return doc;
}

}  // namespace ptrun
