#include "model/writer.h"

#include <cstdio>
#include <nlohmann/json.hpp>

namespace ptrun {

namespace {

using Json = nlohmann::ordered_json;

template <typename T>
Json or_null(const std::optional<T>& value) {
    return value ? Json(*value) : Json(nullptr);
}

Json or_null(const std::string& text) { return text.empty() ? Json(nullptr) : Json(text); }

bool is_utf8(const std::string& text) {
    try {
        (void)Json(text).dump(-1, ' ', false, Json::error_handler_t::strict);
        return true;
    } catch (const Json::type_error&) {
        return false;
    }
}

// A path's bytes as hex digits: written too when the path is not UTF-8, whose
// text in the file then has replacement characters.
std::string hex_of(const std::string& bytes) {
    std::string hex;
    char pair[3];
    for (const unsigned char c : bytes) {
        std::snprintf(pair, sizeof pair, "%02x", c);
        hex += pair;
    }
    return hex;
}

Json snapshot_json(const Snapshot& snapshot) {
    Json j;
    j["cpus"] = Json::array();
    for (const CpuState& state : snapshot.cpus) {
        j["cpus"].push_back({{"cpu", state.cpu},
                             {"governor", or_null(state.governor)},
                             {"frequency_khz",
                              {{"current", or_null(state.current_khz)},
                               {"min", or_null(state.min_khz)},
                               {"max", or_null(state.max_khz)}}}});
    }
    j["temperatures_c"] = Json::object();
    for (const auto& [name, value] : snapshot.temperatures_c) j["temperatures_c"][name] = value;
    j["load_average"] = or_null(snapshot.load_average);
    return j;
}

Json environment_json(const Environment& environment) {
    Json j;
    j["smt"] = or_null(environment.smt);
    j["microcode"] = or_null(environment.microcode);
    j["boost"] = or_null(environment.boost);
    j["hypervisor"] = or_null(environment.hypervisor);
    j["vulnerabilities"] = Json::object();
    for (const auto& [name, text] : environment.vulnerabilities) j["vulnerabilities"][name] = text;
    const Json now = snapshot_json(environment.now);
    for (const auto& [key, value] : now.items()) j[key] = value;
    return j;
}

Json machine_json(const Host& host) {
    if (!host.machine) return Json(nullptr);
    const Machine& machine = *host.machine;
    Json j;
    j["processor"] = or_null(machine.processor);
    j["processor_ids"] = or_null(machine.processor_ids);
    j["emulator"] = or_null(machine.emulator);
    j["processors_online"] = machine.online;
    j["kernel"] = machine.kernel;
    j["memory_bytes"] = machine.memory_bytes;
    j["governor"] = machine.governor;
    Json load = Json::array();
    for (double value : machine.load) load.push_back(value >= 0 ? Json(value) : Json(nullptr));
    j["load_average"] = load;
    if (host.environment_recorded) j["environment"] = environment_json(machine.environment);
    return j;
}

Json host_json(const Host& host, bool with_machine) {
    Json j = {{"id", host.id}, {"hostname", host.hostname}, {"label", or_null(host.label)}};
    if (with_machine) j["machine"] = machine_json(host);
    return j;
}

Json build_json(const Build& build) {
    Json j;
    j["path"] = build.path;
    if (!is_utf8(build.path)) j["path_hex"] = hex_of(build.path);
    j["sha256"] = build.sha256;
    j["build"] = build.line;
    j["id"] = build.id;
    j["build_info"] = {{"version", build.info.version}, {"target", build.info.target},
                       {"compiler", build.info.compiler}, {"compiler_version", build.info.compiler_version},
                       {"flags", build.info.flags}};
    j["validated"] = build.validated;
    j["validation"] = build.validation;
    return j;
}

Json settings_json(const CallSettings& s) {
    return {{"runs", or_null(s.runs)},         {"copies", s.copies},
            {"cpus", s.cpus},                  {"warmup_rounds", or_null(s.warmup_rounds)},
            {"until_cv", or_null(s.until_cv)}, {"max_runs", or_null(s.max_runs)},
            {"max_time_s", or_null(s.max_time_s)}, {"timeout_s", or_null(s.timeout_s)},
            {"order", or_null(s.order)},       {"seed", or_null(s.seed)}};
}

Json run_json(const RunRecord& run) {
    Json j;
    j["copies"] = run.copies;
    j["round"] = run.round;
    j["copy"] = run.copy;
    j["cpu"] = run.cpu;
    j["score"] = or_null(run.score);
    j["wall_s"] = run.wall_s;
    j["share"] = run.share;
    j["involuntary_switches"] = run.involuntary_switches;
    j["exit_code"] = run.exit_code;
    j["error"] = or_null(run.error);
    j["pt_messages"] = run.pt_messages;
    j["low_share"] = run.low_share;
    j["speed_changed"] = run.speed_changed;
    j["flagged"] = run.flagged;
    j["call_id"] = run.call_id;
    j["host"] = run.host;
    j["build"] = run.build;
    j["warmup"] = run.warmup;
    j["started_utc"] = or_null(run.started_utc);
    j["ended_utc"] = or_null(run.ended_utc);
    j["messages_cut"] = run.messages_cut;
    j["environment_before"] = run.environment_before ? snapshot_json(*run.environment_before) : Json(nullptr);
    j["environment_after"] = run.environment_after ? snapshot_json(*run.environment_after) : Json(nullptr);
    return j;
}

bool validated(const Document& doc, const std::string& build) {
    for (const Build& b : doc.builds) {
        if (b.id == build) return b.validated;
    }
    return false;
}

Json figures_json(const Document& doc, Json& j) {
    Json rounds = Json::array();
    for (const RoundFigure& round : doc.rounds) {
        rounds.push_back({{"copies", round.copies}, {"round", round.round}, {"rate_score", round.rate},
                          {"flagged", round.flagged}, {"call_id", round.call}, {"host", round.host},
                          {"build", round.build}, {"warmup", round.warmup}});
    }
    j["rounds"] = rounds;
    Json summary = Json::array();
    for (const SummaryFigure& s : doc.summary) {
        summary.push_back({{"copies", s.copies}, {"runs", s.rounds}, {"median", s.median}, {"min", s.min},
                           {"max", s.max}, {"cv", s.cv}, {"scaling_efficiency", or_null(s.efficiency)},
                           {"flagged_runs", s.flagged}, {"host", s.host}, {"build", s.build},
                           {"validated", validated(doc, s.build)}});
    }
    j["summary"] = summary;
    j["flagged_runs"] = doc.flagged_runs;
    j["reportable"] = doc.reportable_reasons.empty();
    j["reportable_reasons"] = doc.reportable_reasons;
    j["citation"] = or_null(doc.citation);
    return j;
}

Json comparison_json(const ComparisonEntry& e) {
    const SampleComparison& c = e.figures;
    Json differences = Json::array();
    for (const Difference& d : e.differences) differences.push_back({{"what", d.what}, {"a", d.a}, {"b", d.b}});
    return {{"copies", e.copies},         {"a", e.a},
            {"b", e.b},                   {"n_a", c.n_a},
            {"n_b", c.n_b},               {"median_a", c.median_a},
            {"median_b", c.median_b},     {"ratio", c.ratio},
            {"ratio_low", c.ratio_low},   {"ratio_high", c.ratio_high},
            {"estimate", c.estimate},     {"confidence", c.confidence},
            {"p_value", c.p_value},       {"decidable", c.decidable},
            {"verdict", verdict_text(c.verdict)}, {"flagged_a", e.flagged_a},
            {"flagged_b", e.flagged_b},   {"differences", differences},
            {"call_id", e.call_id.empty() ? Json(nullptr) : Json(e.call_id)},
            {"host", e.host},             {"b_host", e.b_host}};
}

Json call_json(const CallRecord& call) {
    Json j;
    j["call_id"] = call.call_id;
    j["host"] = call.host;
    j["recorded_host"] = call.recorded_host;
    j["recorded_builds"] = Json::object();
    for (const auto& [recorded, id] : call.builds) j["recorded_builds"][recorded] = id;
    j["started_utc"] = call.started_utc;
    j["ended_utc"] = call.ended_utc;
    j["outcome"] = call.outcome;
    if (call.no_results_reason) j["no_results_reason"] = *call.no_results_reason;
    j["command_line"] = call.command_line;
    j["ptrun_version"] = call.ptrun_version;
    if (call.settings) j["settings"] = settings_json(*call.settings);
    j["stopped_because"] = call.stopped_because;
    if (call.reportable) j["reportable"] = *call.reportable;
    j["reportable_reasons"] = call.reportable_reasons;
    if (call.citation) j["citation"] = *call.citation;
    if (call.upgraded_from) j["upgraded_from"] = *call.upgraded_from;
    return j;
}

Json document_json(const Document& doc) {
    Json j;
    j["schema_version"] = kSchemaVersion;
    j["call_id"] = doc.call_id;
    if (doc.upgraded_from) j["upgraded_from"] = *doc.upgraded_from;
    j["ptrun_version"] = doc.ptrun_version;
    j["pt_version"] = doc.pt_version;
    j["outcome"] = doc.outcome;
    if (doc.no_results_reason) j["no_results_reason"] = *doc.no_results_reason;
    j["started_utc"] = doc.started_utc;
    j["ended_utc"] = doc.ended_utc;
    j["command_line"] = doc.command_line;
    j["unit"] = kUnit;
    j["higher_is_better"] = true;
    if (doc.settings) j["settings"] = settings_json(*doc.settings);
    if (!doc.hosts.empty()) {
        j["host"] = host_json(doc.hosts.front(), false);
        j["machine"] = machine_json(doc.hosts.front());
    }
    if (!doc.builds.empty()) j["pt"] = build_json(doc.builds.front());
    j["builds"] = Json::array();
    for (const Build& build : doc.builds) j["builds"].push_back(build_json(build));
    j["hosts"] = Json::array();
    for (const Host& host : doc.hosts) j["hosts"].push_back(host_json(host, true));
    j["runs"] = Json::array();
    for (const RunRecord& run : doc.runs) j["runs"].push_back(run_json(run));
    j["stopped_because"] = doc.stopped_because;
    figures_json(doc, j);
    if (!doc.comparisons.empty()) {
        j["comparison"] = Json::array();
        for (const ComparisonEntry& entry : doc.comparisons) j["comparison"].push_back(comparison_json(entry));
    }
    if (doc.merged) {
        j["calls"] = Json::array();
        for (const CallRecord& call : doc.calls) j["calls"].push_back(call_json(call));
    }
    return j;
}

}  // namespace

std::string dump(const Document& document) {
    return document_json(document).dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace ptrun
