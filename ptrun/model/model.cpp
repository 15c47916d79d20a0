#include "model/model.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

namespace ptrun {

void Digest::add(const std::string& text) {
    for (const unsigned char c : text) hash_ = (hash_ ^ c) * 1099511628211ull;
}

std::string Digest::hex() const {
    char out[17];
    std::snprintf(out, sizeof out, "%016llx", static_cast<unsigned long long>(hash_));
    return out;
}

std::string hex_digest(const std::string& text) {
    Digest digest;
    digest.add(text);
    return digest.hex();
}

CallRecord whole_call(const Document& doc) {
    if (doc.calls.size() == 1) return doc.calls.front();
    CallRecord whole;
    std::vector<std::string> ids;
    whole.outcome = "completed";
    for (const CallRecord& call : doc.calls) {
        ids.push_back(call.call_id);
        if (call.outcome == "failed" || call.outcome == kNoResults) whole.outcome = "failed";
        if (call.outcome == "interrupted" && whole.outcome == "completed") whole.outcome = "interrupted";
        if (!call.started_utc.empty() && (whole.started_utc.empty() || call.started_utc < whole.started_utc)) {
            whole.started_utc = call.started_utc;
        }
        whole.ended_utc = std::max(whole.ended_utc, call.ended_utc);
    }
    std::sort(ids.begin(), ids.end());
    std::string joined;
    for (const std::string& id : ids) joined += id + '\n';
    whole.call_id = hex_digest(joined);
    if (!doc.calls.empty()) {
        whole.ptrun_version = doc.calls.front().ptrun_version;
        whole.command_line = doc.calls.front().command_line;
        whole.settings = doc.calls.front().settings;
    }
    whole.stopped_because = "merged";
    return whole;
}

}  // namespace ptrun
