#include "results.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "build_info.h"
#include "stats.h"

namespace ptrun {

namespace {

constexpr std::uintmax_t kMaxResultsBytes = 256u << 20;

std::string hex_digest(const std::string& text) {
    std::uint64_t hash = 14695981039346656037ull;
    for (const unsigned char c : text) hash = (hash ^ c) * 1099511628211ull;
    char out[17];
    std::snprintf(out, sizeof out, "%016llx", static_cast<unsigned long long>(hash));
    return out;
}

Json optional_number(const std::optional<double>& value) { return value ? Json(*value) : Json(nullptr); }

Json run_json(const Run& run, const Call& call, const std::string& host, const std::vector<Build>& builds) {
    Json j;
    j["copies"] = run.copies;
    j["round"] = run.round;
    j["copy"] = run.copy;
    j["cpu"] = run.cpu;
    j["score"] = run.scored ? Json(run.score) : Json(nullptr);
    j["wall_s"] = run.wall_s;
    j["share"] = run.share;
    j["involuntary_switches"] = run.involuntary_switches;
    j["exit_code"] = run.exit_code;
    j["error"] = run.error.empty() ? Json(nullptr) : Json(run.error);
    j["pt_messages"] = run.messages;
    j["low_share"] = run.low_share;
    j["speed_changed"] = run.speed_changed;
    j["flagged"] = run.flagged();
    j["call_id"] = call.id;
    j["host"] = host;
    j["build"] = builds.at(run.build).id;
    j["warmup"] = run.warmup;
    j["started_utc"] = run.started_utc;
    j["ended_utc"] = run.ended_utc;
    j["messages_cut"] = run.messages_cut;
    return j;
}

// Schema 1 (no schema_version) had one host and one build and no ids.
void upgrade_from_1(Json& doc) {
    const std::string call = hex_digest(doc.dump());
    Json host = {{"id", "host-" + call.substr(0, 8)}, {"hostname", "unknown"}, {"label", nullptr}};
    Json pt = doc.value("pt", Json::object());
    pt["id"] = "A";
    const std::string line = pt.value("build", "unknown");
    const BuildInfo info = parse_build_line(line);
    pt["build_info"] = {{"version", info.version}, {"target", info.target}, {"compiler", info.compiler},
                        {"compiler_version", info.compiler_version}, {"flags", info.flags}};
    pt["validated"] = false;
    pt["validation"] = "not checked: written by an earlier ptrun";
    Json upgraded;
    upgraded["schema_version"] = kSchemaVersion;
    upgraded["upgraded_from"] = 1;
    upgraded["call_id"] = call;
    for (auto& [key, value] : doc.items()) upgraded[key] = value;
    upgraded["unit"] = kUnit;
    upgraded["higher_is_better"] = true;
    upgraded["host"] = host;
    upgraded["pt"] = pt;
    upgraded["builds"] = Json::array({pt});
    Json machine = doc.value("machine", Json::object());
    upgraded["hosts"] = Json::array({{{"id", host["id"]}, {"hostname", "unknown"}, {"label", nullptr},
                                      {"machine", machine}}});
    for (Json& run : upgraded["runs"]) {
        run["call_id"] = call;
        run["host"] = host["id"];
        run["build"] = "A";
        run["warmup"] = false;
    }
    doc = std::move(upgraded);
    add_figures(doc);
}

bool is_whole(const Json& value) { return value.is_number_integer() || value.is_number_unsigned(); }

// What every reader relies on; the rest is read where present.
std::string structure_error(const Json& doc) {
    if (!doc.is_object()) return "not a JSON object";
    if (!doc.contains("runs") || !doc["runs"].is_array()) return "no list of runs";
    for (const Json& run : doc["runs"]) {
        if (!run.is_object()) return "a run that is not an object";
        for (const char* key : {"copies", "round", "copy"}) {
            if (!run.contains(key) || !is_whole(run[key]) || run[key].get<long long>() < 0) {
                return std::string("a run without a whole number \"") + key + "\"";
            }
        }
        if (run.contains("score") && !run["score"].is_null() && !run["score"].is_number()) {
            return "a run whose score is not a number";
        }
        for (const char* key : {"call_id", "host", "build"}) {
            if (run.contains(key) && !run[key].is_string()) return std::string("a run whose ") + key + " is no text";
        }
    }
    for (const char* key : {"builds", "hosts"}) {
        if (doc.contains(key) && !doc[key].is_array()) return std::string("\"") + key + "\" is not a list";
    }
    return "";
}

}  // namespace

std::string new_call_id() {
    unsigned char bytes[8] = {};
    const int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    bool read_all = false;
    if (fd >= 0) {
        read_all = read(fd, bytes, sizeof bytes) == static_cast<ssize_t>(sizeof bytes);
        close(fd);
    }
    if (!read_all) {
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        const std::string seed = std::to_string(now.tv_sec) + "." + std::to_string(now.tv_nsec) + "." +
                                 std::to_string(getpid());
        return hex_digest(seed);
    }
    char out[17];
    for (int i = 0; i < 8; ++i) std::snprintf(out + 2 * i, 3, "%02x", bytes[i]);
    return out;
}

Json build_json(const Build& build) {
    Json j;
    j["path"] = build.path;
    j["sha256"] = build.sha256;
    j["build"] = build.line;
    j["id"] = build.id;
    j["build_info"] = {{"version", build.info.version}, {"target", build.info.target},
                       {"compiler", build.info.compiler}, {"compiler_version", build.info.compiler_version},
                       {"flags", build.info.flags}};
    return j;
}

Json machine_json(const Machine& machine) {
    Json j;
    j["processor"] = machine.processor;
    j["processors_online"] = machine.online;
    j["kernel"] = machine.kernel;
    j["memory_bytes"] = machine.memory_bytes;
    j["governor"] = machine.governor;
    Json load = Json::array();
    for (double value : machine.load) load.push_back(value >= 0 ? Json(value) : Json(nullptr));
    j["load_average"] = load;
    return j;
}

Json results_document(const Settings& settings, const Call& call, const Machine& machine,
                      const std::vector<Build>& builds, const Session& session) {
    const std::string host_id = settings.label.empty() ? machine.hostname : settings.label;
    Json doc;
    doc["schema_version"] = kSchemaVersion;
    doc["call_id"] = call.id;
    doc["ptrun_version"] = PT_VERSION;
    doc["pt_version"] = builds.empty() || builds[0].info.version.empty() ? "unknown" : builds[0].info.version;
    doc["outcome"] = outcome_name(session.outcome);
    doc["started_utc"] = call.started_utc;
    doc["ended_utc"] = call.ended_utc;
    doc["command_line"] = settings.command_line;
    doc["unit"] = kUnit;
    doc["higher_is_better"] = true;
    Json s;
    s["runs"] = settings.runs;
    s["copies"] = settings.copies;
    s["cpus"] = settings.cpus;
    s["warmup_rounds"] = settings.warmup_rounds;
    s["until_cv"] = optional_number(settings.until_cv);
    s["max_runs"] = settings.max_runs > 0 ? Json(settings.max_runs) : Json(nullptr);
    s["max_time_s"] = settings.max_time_s > 0 ? Json(settings.max_time_s) : Json(nullptr);
    s["timeout_s"] = settings.timeout_s > 0 ? Json(settings.timeout_s) : Json(nullptr);
    s["order"] = settings.order;
    s["seed"] = settings.seed ? Json(*settings.seed) : Json(nullptr);
    doc["settings"] = s;
    const Json host = {{"id", host_id}, {"hostname", machine.hostname},
                       {"label", settings.label.empty() ? Json(nullptr) : Json(settings.label)}};
    doc["host"] = host;
    doc["machine"] = machine_json(machine);
    doc["pt"] = builds.empty() ? Json::object() : build_json(builds[0]);
    doc["builds"] = Json::array();
    for (const Build& build : builds) doc["builds"].push_back(build_json(build));
    Json host_entry = host;
    host_entry["machine"] = doc["machine"];
    doc["hosts"] = Json::array({host_entry});
    doc["runs"] = Json::array();
    for (const Run& run : session.runs) doc["runs"].push_back(run_json(run, call, host_id, builds));
    doc["stopped_because"] = session.stopped_because;
    add_figures(doc);
    if (builds.size() > 1) {
        Json comparison = Json::array();
        for (std::size_t i = 1; i < builds.size(); ++i) {
            for (const Json& entry : comparison_entries(doc, host_id, builds[0].id, doc, host_id, builds[i].id)) {
                comparison.push_back(entry);
            }
        }
        doc["comparison"] = comparison;
    }
    return doc;
}

std::vector<RunFigure> run_figures(const Json& doc) {
    std::vector<RunFigure> figures;
    for (const Json& run : doc.at("runs")) {
        RunFigure figure;
        figure.call = run.value("call_id", "");
        figure.host = run.value("host", "");
        figure.build = run.value("build", "");
        figure.copies = run.at("copies").get<int>();
        figure.round = run.at("round").get<int>();
        figure.copy = run.at("copy").get<int>();
        figure.warmup = run.value("warmup", false);
        figure.flagged = run.value("flagged", false);
        if (run.contains("score") && run["score"].is_number()) figure.score = run["score"].get<double>();
        figures.push_back(figure);
    }
    return figures;
}

std::vector<RoundFigure> round_figures(const Json& doc) { return rounds_of(run_figures(doc)); }

std::vector<SummaryFigure> summary_figures(const Json& doc) {
    const std::vector<RunFigure> runs = run_figures(doc);
    return summarise(runs, rounds_of(runs));
}

void add_figures(Json& doc) {
    const std::vector<RunFigure> runs = run_figures(doc);
    const std::vector<RoundFigure> rounds = rounds_of(runs);
    Json rounds_json = Json::array();
    for (const RoundFigure& round : rounds) {
        rounds_json.push_back({{"copies", round.copies}, {"round", round.round}, {"rate_score", round.rate},
                               {"flagged", round.flagged}, {"call_id", round.call}, {"host", round.host},
                               {"build", round.build}, {"warmup", round.warmup}});
    }
    Json summary_json = Json::array();
    for (const SummaryFigure& s : summarise(runs, rounds)) {
        summary_json.push_back({{"copies", s.copies}, {"runs", s.rounds}, {"median", s.median}, {"min", s.min},
                                {"max", s.max}, {"cv", s.cv}, {"scaling_efficiency", optional_number(s.efficiency)},
                                {"flagged_runs", s.flagged}, {"host", s.host}, {"build", s.build}});
    }
    doc["rounds"] = rounds_json;
    doc["summary"] = summary_json;
    int flagged = 0;
    for (const RunFigure& run : runs) flagged += run.flagged ? 1 : 0;
    doc["flagged_runs"] = flagged;
}

std::string dump(const Json& document) {
    return document.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::optional<Json> parse_results(const std::string& text, const std::string& name, std::string& error) {
    Json doc = Json::parse(text, nullptr, false);
    if (doc.is_discarded()) {
        error = name + " is not a ptrun results file: not JSON";
        return std::nullopt;
    }
    if (doc.is_object() && doc.contains("schema_version")) {
        const Json& version = doc["schema_version"];
        if (!is_whole(version) || version.get<long long>() < 1) {
            error = name + " is not a ptrun results file: a schema_version that is not a version";
            return std::nullopt;
        }
        if (version.get<long long>() > kSchemaVersion) {
            error = name + " has schema version " + std::to_string(version.get<long long>()) + "; this ptrun reads " +
                    "versions up to " + std::to_string(kSchemaVersion) + ": use a newer ptrun";
            return std::nullopt;
        }
    }
    const std::string problem = structure_error(doc);
    if (!problem.empty()) {
        error = name + " is not a ptrun results file: " + problem;
        return std::nullopt;
    }
    if (!doc.contains("schema_version") || doc["schema_version"].get<int>() == 1) {
        if (!doc.contains("machine") || !doc.contains("pt")) {
            error = name + " is not a ptrun results file: no schema_version, machine or pt";
            return std::nullopt;
        }
        upgrade_from_1(doc);
    }
    return doc;
}

std::optional<Json> load_results(const std::string& path, std::string& error) {
    // Only a regular file: a FIFO or a device would block or never end.
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    if (!S_ISREG(info.st_mode) || static_cast<std::uintmax_t>(info.st_size) > kMaxResultsBytes) {
        error = path + " is not a ptrun results file: not a regular file of at most 256 MiB";
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read " + path;
        return std::nullopt;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return parse_results(text.str(), path, error);
}

}  // namespace ptrun
