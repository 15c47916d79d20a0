#include "model/model.h"

#include <cstdint>
#include <cstdio>

namespace ptrun {

std::string hex_digest(const std::string& text) {
    std::uint64_t hash = 14695981039346656037ull;
    for (const unsigned char c : text) hash = (hash ^ c) * 1099511628211ull;
    char out[17];
    std::snprintf(out, sizeof out, "%016llx", static_cast<unsigned long long>(hash));
    return out;
}

CallRecord call_record(const Document& doc) {
    CallRecord call;
    call.call_id = doc.call_id;
    call.host = call.recorded_host = doc.hosts.empty() ? "" : doc.hosts.front().id;
    for (const Build& build : doc.builds) call.builds[build.id] = build.id;
    call.started_utc = doc.started_utc;
    call.ended_utc = doc.ended_utc;
    call.outcome = doc.outcome;
    call.no_results_reason = doc.no_results_reason;
    call.command_line = doc.command_line;
    call.ptrun_version = doc.ptrun_version;
    call.settings = doc.settings;
    call.stopped_because = doc.stopped_because;
    call.upgraded_from = doc.upgraded_from;
    return call;
}

}  // namespace ptrun
