#include "model/writer.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include <unordered_map>

#include "model/model.h"

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
    j["processors_physical"] = machine.physical > 0 ? Json(machine.physical) : Json(nullptr);
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

// Where each host stands in its kind, per build and copy count; computed.
std::unordered_map<std::string, Json> standings_json(const Document& doc) {
    std::unordered_map<std::string, Json> by_host;
    for (const HostStanding& s : doc.standings) {
        Json& list = by_host.try_emplace(s.host, Json::array()).first->second;
        list.push_back({{"build", s.build}, {"copies", s.copies}, {"group_size", s.group_size},
                        {"percentile", s.percentile}, {"ratio_to_group_median", s.ratio_to_group_median},
                        {"outlier", s.outlier}});
    }
    return by_host;
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

Json module_times_json(const Boxed<ModuleTimes>& times) {
    if (!times) return nullptr;
    Json j = Json::object();
    for (std::size_t m = 0; m < kModuleCount; ++m) j[kModuleNames[m]] = (*times)[m];
    return j;
}

Json module_counters_json(const Boxed<ModuleCounters>& counters) {
    if (!counters) return nullptr;
    Json j = Json::object();
    for (std::size_t m = 0; m < kModuleCount; ++m) {
        Json events = Json::object();
        for (std::size_t e = 0; e < kEventCount; ++e) events[kEventNames[e]] = or_null((*counters)[m][e]);
        j[kModuleNames[m]] = events;
    }
    return j;
}

// A run. A call's own file gives every field, nulls included, as people and
// their scripts have always read it. A merged file grows with the fleet, so
// there a field at the value the reader takes for it when absent (0, false,
// null, empty; `flagged` as low_share or speed_changed) is left out, which
// every reader of schema 2 reads back as the same run; what identifies and
// scores a run is always written.
Json run_json(const RunRecord& run, bool every_field) {
    Json j;
    auto put = [&j, every_field](const char* name, Json value, bool at_default) {
        if (every_field || !at_default) j[name] = std::move(value);
    };
    j["copies"] = run.copies;
    j["round"] = run.round;
    j["copy"] = run.copy;
    j["cpu"] = run.cpu;
    j["score"] = or_null(run.score);
    j["wall_s"] = run.wall_s;
    j["share"] = run.share;
    put("involuntary_switches", run.involuntary_switches, run.involuntary_switches == 0);
    put("exit_code", run.exit_code, run.exit_code == 0);
    put("error", or_null(run.error), !run.error);
    put("pt_messages", run.pt_messages, run.pt_messages.empty());
    put("low_share", run.low_share, !run.low_share);
    put("speed_changed", run.speed_changed, !run.speed_changed);
    put("flagged", run.flagged, run.flagged == (run.low_share || run.speed_changed));
    j["call_id"] = run.call_id;
    j["host"] = run.host;
    j["build"] = run.build;
    put("warmup", run.warmup, !run.warmup);
    put("started_utc", or_null(run.started_utc), run.started_utc.empty());
    put("ended_utc", or_null(run.ended_utc), run.ended_utc.empty());
    put("messages_cut", run.messages_cut, !run.messages_cut);
    const auto snapshot = [](const Boxed<Snapshot>& s) { return s ? snapshot_json(*s) : Json(nullptr); };
    put("environment_before", snapshot(run.environment_before), !run.environment_before);
    put("environment_after", snapshot(run.environment_after), !run.environment_after);
    put("module_ms", module_times_json(run.module_ms), !run.module_ms);
    put("module_counters", module_counters_json(run.module_counters), !run.module_counters);
    return j;
}

bool validated(const Document& doc, const std::string& build) {
    for (const Build& b : doc.builds) {
        if (b.id == build) return b.validated;
    }
    return false;
}

}  // namespace

Json comparison_json(const ComparisonEntry& e) {
    const SampleComparison& c = e.figures;
    Json differences = Json::array();
    for (const Difference& d : e.differences) differences.push_back({{"what", d.what}, {"a", d.a}, {"b", d.b}});
    Json modules = Json::array();
    for (const ModuleComparison& m : e.modules) {
        modules.push_back({{"module", kModuleNames[m.module]}, {"estimate", m.figures.estimate},
                           {"ratio_low", m.figures.ratio_low}, {"ratio_high", m.figures.ratio_high},
                           {"p_value", m.figures.p_value}, {"test", test_text(m.figures)},
                           {"share_of_difference", or_null(m.share)},
                           {"confidence", m.figures.confidence}, {"decidable", m.figures.decidable}});
    }
    return {{"copies", e.copies},         {"a", e.a},
            {"b", e.b},                   {"n_a", c.n_a},
            {"n_b", c.n_b},               {"median_a", c.median_a},
            {"median_b", c.median_b},     {"ratio", c.ratio},
            {"ratio_low", c.ratio_low},   {"ratio_high", c.ratio_high},
            {"estimate", c.estimate},     {"confidence", c.confidence},
            {"p_value", c.p_value},       {"test", test_text(c)},
            {"pairs", c.pairs},           {"decidable", c.decidable},
            {"detectable_slowdown", or_null(c.detectable_slowdown)},
            {"verdict", verdict_text(c.verdict)}, {"flagged_a", e.flagged_a},
            {"flagged_b", e.flagged_b},   {"differences", differences},
            {"call_id", e.call_id.empty() ? Json(nullptr) : Json(e.call_id)},
            {"host", e.host},             {"b_host", e.b_host},
            {"modules", modules}};
}

namespace {

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
    j["counters_unavailable"] = or_null(call.counters_unavailable);
    return j;
}

// The file as it is written: the top level's fields in order, each small
// value as a tree of its own, the lists that grow with the runs item by item,
// so that no tree of the whole document is ever built; the text goes to the
// sink in pieces of about a megabyte.
class Emitter {
public:
    explicit Emitter(const TextSink& sink) : sink_(sink) { text_ = "{"; }

    void field(const char* name, const Json& value) {
        start(name);
        const std::string text = value.dump(2, ' ', false, Json::error_handler_t::replace);
        for (const char c : text) {
            text_ += c;
            if (c == '\n') text_ += "  ";  // strings hold no raw line breaks: this indents one level
        }
    }
    // A list written one item a line.
    template <typename Items, typename ToJson>
    void list(const char* name, const Items& items, ToJson to_json) {
        start(name);
        text_ += '[';
        bool first = true;
        for (const auto& item : items) {
            text_ += first ? "\n    " : ",\n    ";
            first = false;
            text_ += to_json(item).dump(-1, ' ', false, Json::error_handler_t::replace);
            if (text_.size() >= (1u << 20)) flush();
        }
        text_ += first ? "]" : "\n  ]";
    }
    void end() {
        text_ += "\n}\n";
        flush();
    }

private:
    const TextSink& sink_;
    std::string text_;
    bool first_ = true;

    void start(const char* name) {
        text_ += first_ ? "\n  \"" : ",\n  \"";
        first_ = false;
        text_ += name;
        text_ += "\": ";
    }
    void flush() {
        sink_(text_);
        text_.clear();
    }
};

void write_call_fields(Emitter& out, const Document& doc, const CallRecord& call) {
    out.field("schema_version", kSchemaVersion);
    out.field("call_id", call.call_id);
    if (call.upgraded_from) out.field("upgraded_from", *call.upgraded_from);
    out.field("ptrun_version", call.ptrun_version);
    out.field("pt_version", doc.pt_version);
    out.field("outcome", call.outcome);
    if (call.no_results_reason) out.field("no_results_reason", *call.no_results_reason);
    out.field("started_utc", call.started_utc);
    out.field("ended_utc", call.ended_utc);
    out.field("command_line", call.command_line);
    out.field("unit", kUnit);
    out.field("higher_is_better", true);
    if (call.settings) out.field("settings", settings_json(*call.settings));
    out.field("counters_unavailable", or_null(call.counters_unavailable));
}

void write_figures(Emitter& out, const Document& doc) {
    out.list("rounds", doc.rounds, [&doc](const RoundFigure& round) {
        Json j{{"copies", round.copies}, {"round", round.round}, {"rate_score", round.rate}};
        if (round.flagged || !doc.merged) j["flagged"] = round.flagged;
        j["call_id"] = round.call;
        j["host"] = round.host;
        j["build"] = round.build;
        if (round.warmup || !doc.merged) j["warmup"] = round.warmup;
        return j;
    });
    out.list("summary", doc.summary, [&doc](const SummaryFigure& s) {
        return Json{{"copies", s.copies}, {"runs", s.rounds}, {"median", s.median}, {"min", s.min},
                    {"max", s.max}, {"cv", s.cv}, {"scaling_efficiency", or_null(s.efficiency)},
                    {"flagged_runs", s.flagged}, {"host", s.host}, {"build", s.build},
                    {"validated", validated(doc, s.build)}};
    });
    out.field("flagged_runs", doc.flagged_runs);
    out.field("reportable", doc.reportable_reasons.empty());
    out.field("reportable_reasons", doc.reportable_reasons);
    out.field("citation", or_null(doc.citation));
}

}  // namespace

void write_results(const Document& doc, const TextSink& sink) {
    Emitter out(sink);
    const CallRecord call = whole_call(doc);
    write_call_fields(out, doc, call);
    if (!doc.hosts.empty()) {
        out.field("host", host_json(doc.hosts.front(), false));
        out.field("machine", machine_json(doc.hosts.front()));
    }
    if (!doc.builds.empty()) out.field("pt", build_json(doc.builds.front()));
    out.list("builds", doc.builds, build_json);
    const std::unordered_map<std::string, Json> standings = doc.merged ? standings_json(doc) : decltype(standings){};
    out.list("hosts", doc.hosts, [&](const Host& host) {
        Json j = host_json(host, true);
        if (doc.merged) {
            const auto found = standings.find(host.id);
            j["standing"] = found == standings.end() ? Json::array() : found->second;
        }
        return j;
    });
    out.list("runs", doc.runs, [&doc](const RunRecord& run) { return run_json(run, !doc.merged); });
    out.field("stopped_because", call.stopped_because);
    write_figures(out, doc);
    if (!doc.comparisons.empty()) out.list("comparison", doc.comparisons, comparison_json);
    if (doc.merged) out.list("calls", doc.calls, call_json);
    out.end();
}

std::string dump(const Document& document) {
    std::string text;
    write_results(document, [&text](const std::string& piece) { text += piece; });
    return text;
}

}  // namespace ptrun
