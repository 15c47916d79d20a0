#include "model/reader.h"

#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>
#include <sstream>
#include <set>
#include <stdexcept>
#include <unordered_map>

#include "model/model.h"

namespace ptrun {

namespace {

using Json = nlohmann::ordered_json;

constexpr std::uintmax_t kMaxResultsBytes = 256u << 20;

// Bad input: the path of the field at fault and what is wrong with it.
struct BadField : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A value of the document with its path, for the messages.
class Field {
public:
    Field(const Json* value, std::string path) : value_(value), path_(std::move(path)) {}

    bool present() const { return value_ != nullptr && !value_->is_null(); }
    const std::string& path() const { return path_; }
    [[noreturn]] void fail(const std::string& what) const {
        throw BadField((path_.empty() ? "" : path_ + ": ") + what);
    }

    Field operator[](const char* key) const {
        const std::string path = path_.empty() ? key : path_ + "." + key;
        if (!present()) return {nullptr, path};
        if (!value_->is_object()) fail("not an object");
        const auto it = value_->find(key);
        return {it == value_->end() ? nullptr : &*it, path};
    }

    std::string text() const {
        if (!present() || !value_->is_string()) fail("not a text");
        return value_->get<std::string>();
    }
    std::string text_or(const std::string& otherwise) const { return present() ? text() : otherwise; }
    std::optional<std::string> optional_text() const {
        return present() ? std::optional<std::string>(text()) : std::nullopt;
    }
    bool flag_or(bool otherwise) const {
        if (!present()) return otherwise;
        if (!value_->is_boolean()) fail("not true or false");
        return value_->get<bool>();
    }
    std::optional<double> optional_number() const {
        if (!present()) return std::nullopt;
        if (!value_->is_number() || !std::isfinite(value_->get<double>())) fail("not a finite number");
        return value_->get<double>();
    }
    double number_or(double otherwise) const { return optional_number().value_or(otherwise); }
    std::optional<long long> optional_whole(long long low, long long high) const {
        if (!present()) return std::nullopt;
        if (!value_->is_number_integer() && !value_->is_number_unsigned()) fail("not a whole number");
        const bool above = value_->is_number_unsigned() &&
                           value_->get<unsigned long long>() > static_cast<unsigned long long>(high);
        const long long v = above ? high : value_->get<long long>();
        if (above || v < low || v > high) fail("not from " + std::to_string(low) + " to " + std::to_string(high));
        return v;
    }
    long long whole(long long low, long long high) const {
        if (!present()) fail("missing");
        return *optional_whole(low, high);
    }
    int small_or(int otherwise, int low = std::numeric_limits<int>::min()) const {
        return static_cast<int>(optional_whole(low, std::numeric_limits<int>::max()).value_or(otherwise));
    }

    // Calls visit(Field) for each item of a list; nothing when absent.
    template <typename Visit>
    void each(Visit visit) const {
        if (!present()) return;
        if (!value_->is_array()) fail("not a list");
        for (std::size_t i = 0; i < value_->size(); ++i) {
            visit(Field(&(*value_)[i], path_ + "[" + std::to_string(i) + "]"));
        }
    }
    // Calls visit(name, Field) for each member of an object.
    template <typename Visit>
    void members(Visit visit) const {
        if (!present()) return;
        if (!value_->is_object()) fail("not an object");
        for (const auto& [name, value] : value_->items()) visit(name, Field(&value, path_ + "." + name));
    }
    std::vector<std::string> texts() const {
        std::vector<std::string> out;
        each([&out](const Field& item) { out.push_back(item.text()); });
        return out;
    }
    std::vector<int> small_wholes() const {
        std::vector<int> out;
        each([&out](const Field& item) { out.push_back(static_cast<int>(item.whole(0, kMaxCopies * 1024))); });
        return out;
    }

private:
    const Json* value_;
    std::string path_;
};

// "unknown" is what earlier files said where the machine did not tell.
std::string told(const Field& field) {
    const std::string text = field.text_or("");
    return text == "unknown" ? "" : text;
}

std::vector<CpuState> cpus_of(const Field& list) {
    std::vector<CpuState> cpus;
    list.each([&cpus](const Field& item) {
        CpuState cpu;
        cpu.cpu = static_cast<int>(item["cpu"].whole(0, std::numeric_limits<int>::max()));
        cpu.governor = item["governor"].optional_text();
        const Field khz = item["frequency_khz"];
        const long long most = std::numeric_limits<long long>::max();
        cpu.current_khz = khz["current"].optional_whole(0, most);
        cpu.min_khz = khz["min"].optional_whole(0, most);
        cpu.max_khz = khz["max"].optional_whole(0, most);
        cpus.push_back(cpu);
    });
    return cpus;
}

std::optional<std::array<double, 3>> load_of(const Field& list) {
    if (!list.present()) return std::nullopt;
    std::array<double, 3> load{-1, -1, -1};
    std::size_t n = 0;
    list.each([&](const Field& item) {
        if (n == 3) item.fail("a fourth load average");
        load[n++] = item.optional_number().value_or(-1);
    });
    return load;
}

Snapshot snapshot_of(const Field& object) {
    Snapshot snapshot;
    snapshot.cpus = cpus_of(object["cpus"]);
    object["temperatures_c"].members([&snapshot](const std::string& name, const Field& value) {
        snapshot.temperatures_c.emplace_back(name, value.optional_number().value_or(0));
    });
    snapshot.load_average = load_of(object["load_average"]);
    return snapshot;
}

Environment environment_of(const Field& object) {
    Environment environment;
    environment.smt = object["smt"].optional_text();
    environment.microcode = object["microcode"].optional_text();
    environment.boost = object["boost"].optional_text();
    environment.hypervisor = object["hypervisor"].optional_text();
    object["vulnerabilities"].members([&environment](const std::string& name, const Field& value) {
        environment.vulnerabilities.emplace_back(name, value.text());
    });
    environment.now = snapshot_of(object);
    return environment;
}

Machine machine_of(const Field& object, bool& environment_recorded) {
    Machine machine;
    machine.processor = told(object["processor"]);
    machine.processor_ids = object["processor_ids"].text_or("");
    machine.emulator = object["emulator"].text_or("");
    machine.online = static_cast<long>(object["processors_online"].optional_whole(0, 1 << 24).value_or(0));
    machine.kernel = told(object["kernel"]);
    machine.memory_bytes = static_cast<unsigned long long>(
        object["memory_bytes"].optional_whole(0, std::numeric_limits<long long>::max()).value_or(0));
    machine.governor = told(object["governor"]);
    if (const auto load = load_of(object["load_average"])) std::copy(load->begin(), load->end(), machine.load);
    environment_recorded = object["environment"].present();
    if (environment_recorded) machine.environment = environment_of(object["environment"]);
    return machine;
}

Host host_of(const Field& object, const Field& machine) {
    Host host;
    host.id = object["id"].text();
    if (host.id.empty()) object["id"].fail("empty");
    host.hostname = object["hostname"].text_or("unknown");
    host.label = object["label"].optional_text();
    if (machine.present()) host.machine = machine_of(machine, host.environment_recorded);
    return host;
}

Build build_of(const Field& object) {
    Build build;
    build.id = object["id"].text_or("A");
    build.path = object["path"].text_or("");
    build.sha256 = object["sha256"].text_or("");
    build.line = object["build"].text_or("unknown");
    const Field info = object["build_info"];
    if (info.present()) {
        build.info = {info["version"].text_or(""), info["target"].text_or(""), info["compiler"].text_or(""),
                      info["compiler_version"].text_or(""), info["flags"].text_or("")};
    } else {
        build.info = parse_build_line(build.line);
    }
    build.validated = object["validated"].flag_or(false);
    build.validation = object["validation"].text_or("");
    return build;
}

CallSettings settings_of(const Field& object) {
    CallSettings s;
    s.runs = object["runs"].optional_whole(0, kMaxRuns);
    s.copies = object["copies"].small_wholes();
    s.cpus = object["cpus"].small_wholes();
    s.warmup_rounds = object["warmup_rounds"].optional_whole(0, kMaxRuns);
    s.until_cv = object["until_cv"].optional_number();
    s.max_runs = object["max_runs"].optional_whole(0, std::numeric_limits<int>::max());
    s.max_time_s = object["max_time_s"].optional_number();
    s.timeout_s = object["timeout_s"].optional_number();
    s.order = object["order"].optional_text();
    s.seed = object["seed"].optional_whole(0, std::numeric_limits<unsigned>::max());
    return s;
}

RunRecord run_of(const Field& object) {
    RunRecord run;
    run.call_id = object["call_id"].text_or("");
    run.host = object["host"].text_or("");
    run.build = object["build"].text_or("");
    run.copies = static_cast<int>(object["copies"].whole(1, kMaxCopies));
    run.round = static_cast<int>(object["round"].whole(0, std::numeric_limits<int>::max()));
    run.copy = static_cast<int>(object["copy"].whole(1, run.copies));
    run.cpu = object["cpu"].small_or(0, -1);
    run.warmup = object["warmup"].flag_or(false);
    run.started_utc = object["started_utc"].text_or("");
    run.ended_utc = object["ended_utc"].text_or("");
    run.score = object["score"].optional_number();
    if (run.score && !(*run.score > 0)) object["score"].fail("not a number above 0");
    run.wall_s = object["wall_s"].number_or(0);
    run.share = object["share"].number_or(0);
    run.involuntary_switches =
        object["involuntary_switches"].optional_whole(0, std::numeric_limits<long long>::max()).value_or(0);
    run.exit_code = object["exit_code"].small_or(0);
    run.error = object["error"].optional_text();
    run.pt_messages = object["pt_messages"].texts();
    run.messages_cut = object["messages_cut"].flag_or(false);
    run.low_share = object["low_share"].flag_or(false);
    run.speed_changed = object["speed_changed"].flag_or(false);
    run.flagged = object["flagged"].flag_or(run.low_share || run.speed_changed);
    if (object["environment_before"].present()) run.environment_before = snapshot_of(object["environment_before"]);
    if (object["environment_after"].present()) run.environment_after = snapshot_of(object["environment_after"]);
    return run;
}

CallRecord call_of(const Field& object) {
    CallRecord call;
    call.call_id = object["call_id"].text();
    call.host = object["host"].text();
    call.recorded_host = object["recorded_host"].text_or(call.host);
    object["recorded_builds"].members(
        [&call](const std::string& name, const Field& value) { call.builds[name] = value.text(); });
    call.started_utc = object["started_utc"].text_or("");
    call.ended_utc = object["ended_utc"].text_or("");
    call.outcome = object["outcome"].text();
    call.no_results_reason = object["no_results_reason"].optional_text();
    call.command_line = object["command_line"].texts();
    call.ptrun_version = object["ptrun_version"].text_or("");
    if (object["settings"].present()) call.settings = settings_of(object["settings"]);
    call.stopped_because = object["stopped_because"].text_or("");
    if (object["reportable"].present()) call.reportable = object["reportable"].flag_or(false);
    call.reportable_reasons = object["reportable_reasons"].texts();
    call.citation = object["citation"].optional_text();
    if (const auto from = object["upgraded_from"].optional_whole(1, kSchemaVersion)) call.upgraded_from = int(*from);
    return call;
}

bool known_outcome(const std::string& outcome) {
    return outcome == "completed" || outcome == "failed" || outcome == "interrupted" || outcome == kNoResults;
}

// The call itself, from the top level of a file of one call, with what it
// said of itself.
CallRecord own_call(const Document& doc, const Field& top) {
    CallRecord call = call_record(doc);
    if (top["reportable"].present()) call.reportable = top["reportable"].flag_or(false);
    call.reportable_reasons = top["reportable_reasons"].texts();
    call.citation = top["citation"].optional_text();
    return call;
}

// Schema 1 had one host and one build and no ids: they are made up here,
// the call's id from the file's text so that the same file read twice is
// the same call.
void upgrade_from_1(Document& doc, const std::string& text) {
    doc.upgraded_from = 1;
    doc.call_id = hex_digest(text);
    const std::string host = "host-" + doc.call_id.substr(0, 8);
    doc.hosts.front().id = host;
    doc.builds.front().id = "A";
    doc.builds.front().validated = false;
    doc.builds.front().validation = "not checked: written by an earlier ptrun";
    doc.pt_version = doc.builds.front().info.version.empty() ? "unknown" : doc.builds.front().info.version;
    for (RunRecord& run : doc.runs) {
        run.call_id = doc.call_id;
        run.host = host;
        run.build = "A";
        run.warmup = false;
    }
}

void read_document(Document& doc, const Field& top, int version, const std::string& text) {
    doc.outcome = top["outcome"].text();
    if (!known_outcome(doc.outcome)) top["outcome"].fail("not completed, failed, interrupted or no results");
    const bool stub = doc.outcome == kNoResults;
    if (stub) doc.no_results_reason = top["no_results_reason"].text();
    if (version == 1 && (!top["machine"].present() || !top["pt"].present())) {
        top.fail("no schema_version, machine or pt");
    }
    doc.call_id = version == 1 ? "" : top["call_id"].text();
    if (version > 1 && doc.call_id.empty()) top["call_id"].fail("empty");
    if (const auto from = top["upgraded_from"].optional_whole(1, kSchemaVersion)) doc.upgraded_from = int(*from);
    doc.ptrun_version = top["ptrun_version"].text_or("");
    doc.pt_version = top["pt_version"].text_or("unknown");
    doc.started_utc = top["started_utc"].text_or("");
    doc.ended_utc = top["ended_utc"].text_or("");
    doc.command_line = top["command_line"].texts();
    if (top["settings"].present()) doc.settings = settings_of(top["settings"]);
    doc.stopped_because = top["stopped_because"].text_or("");
    if (top["hosts"].present()) {
        top["hosts"].each([&doc](const Field& item) { doc.hosts.push_back(host_of(item, item["machine"])); });
    } else if (version == 1) {
        doc.hosts.push_back({"", "unknown", std::nullopt, std::nullopt, false});
        doc.hosts.back().machine = machine_of(top["machine"], doc.hosts.back().environment_recorded);
    } else {
        doc.hosts.push_back(host_of(top["host"], top["machine"]));
    }
    if (doc.hosts.empty()) top["hosts"].fail("no host");
    top["builds"].each([&doc](const Field& item) { doc.builds.push_back(build_of(item)); });
    if (doc.builds.empty() && top["pt"].present()) doc.builds.push_back(build_of(top["pt"]));
    if (doc.builds.empty() && !stub) top["builds"].fail("no build");
    if (!top["runs"].present()) top["runs"].fail("missing");
    top["runs"].each([&doc](const Field& item) { doc.runs.push_back(run_of(item)); });
    if (version == 1) upgrade_from_1(doc, text);
    doc.merged = top["calls"].present();
    top["calls"].each([&doc](const Field& item) { doc.calls.push_back(call_of(item)); });
    if (!doc.merged) doc.calls.push_back(own_call(doc, top));
}

// Every run names a host, build and call of the document; a file of one call
// may leave them out, as schema 1 did.
void check_references(Document& doc) {
    std::set<std::string> hosts, builds, calls;
    for (const Host& host : doc.hosts) hosts.insert(host.id);
    for (const Build& build : doc.builds) builds.insert(build.id);
    for (const CallRecord& call : doc.calls) calls.insert(call.call_id);
    for (std::size_t i = 0; i < doc.runs.size(); ++i) {
        RunRecord& run = doc.runs[i];
        const std::string at = "runs[" + std::to_string(i) + "].";
        if (run.call_id.empty() && !doc.merged) run.call_id = doc.call_id;
        if (run.host.empty() && !doc.merged) run.host = doc.hosts.front().id;
        if (run.build.empty() && !doc.merged && !doc.builds.empty()) run.build = doc.builds.front().id;
        if (!calls.count(run.call_id)) throw BadField(at + "call_id: no call " + run.call_id + " in the file");
        if (!hosts.count(run.host)) throw BadField(at + "host: no host " + run.host + " in hosts");
        if (!builds.count(run.build)) throw BadField(at + "build: no build " + run.build + " in builds");
    }
}

// Scores each finite can still sum to infinity over a round's copies, and a
// round's rate score is that sum.
void check_sums(const Document& doc) {
    std::unordered_map<std::string, double> sums;
    for (const RunRecord& run : doc.runs) {
        if (!run.score) continue;
        double& sum = sums[run.call_id + '\n' + run.host + '\n' + run.build + '\n' + std::to_string(run.copies) +
                           '\n' + std::to_string(run.round)];
        sum += *run.score;
        if (!std::isfinite(sum)) {
            throw BadField("runs: the scores of round " + std::to_string(run.round) + " of " +
                           std::to_string(run.copies) + " copies sum to more than a number can hold");
        }
    }
}

}  // namespace

std::optional<Document> parse_results(const std::string& text, const std::string& name, std::string& error) {
    bool too_deep = false;
    const Json::parser_callback_t shallow = [&too_deep](int depth, Json::parse_event_t, Json&) {
        if (depth <= kMaxNesting) return true;
        too_deep = true;
        return false;
    };
    const Json json = Json::parse(text, shallow, false);
    if (too_deep) {
        error = name + " is not a ptrun results file: nested deeper than " + std::to_string(kMaxNesting) + " levels";
        return std::nullopt;
    }
    if (json.is_discarded()) {
        error = name + " is not a ptrun results file: not JSON";
        return std::nullopt;
    }
    try {
        const Field top(&json, "");
        if (!json.is_object()) top.fail("not a JSON object");
        const int version = static_cast<int>(top["schema_version"].optional_whole(1, 1 << 30).value_or(1));
        if (version > kSchemaVersion) {
            error = name + " has schema version " + std::to_string(version) + "; this ptrun reads versions up to " +
                    std::to_string(kSchemaVersion) + ": use a newer ptrun";
            return std::nullopt;
        }
        Document doc;
        read_document(doc, top, version, text);
        check_references(doc);
        check_sums(doc);
        return doc;
    } catch (const BadField& e) {
        error = name + " is not a ptrun results file: " + e.what();
    }
    return std::nullopt;
}

std::optional<Document> load_results(const std::string& path, std::string& error) {
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
