#include "model/reader.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <streambuf>
#include <string_view>
#include <limits>
#include <nlohmann/json.hpp>
#include <set>
#include <stdexcept>
#include <unordered_map>

#include "model/model.h"
#include "model/writer.h"

namespace ptrun {

namespace {

using Json = nlohmann::ordered_json;

constexpr std::uintmax_t kMaxResultsBytes = 256u << 20;

// Bad input: the path of the field at fault and what is wrong with it.
struct BadField : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A value of the document with its path, for the messages. The path is
// made only for a message: a child knows its parent and its name or place.
class Field {
public:
    Field(const Json* value, std::string path) : value_(value), root_(std::move(path)) {}

    bool present() const { return value_ != nullptr && !value_->is_null(); }
    std::string path() const {
        if (parent_ == nullptr) return root_;
        const std::string above = parent_->path();
        if (index_ != kNamed) return above + "[" + std::to_string(index_) + "]";
        return above.empty() ? std::string(name_) : above + "." + std::string(name_);
    }
    [[noreturn]] void fail(const std::string& what) const {
        const std::string at = path();
        throw BadField((at.empty() ? "" : at + ": ") + what);
    }

    Field operator[](const char* key) const {
        if (!present()) return {nullptr, this, key};
        if (!value_->is_object()) fail("not an object");
        const auto it = value_->find(key);
        return {it == value_->end() ? nullptr : &*it, this, key};
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
        for (std::size_t i = 0; i < value_->size(); ++i) visit(Field(&(*value_)[i], this, {}, i));
    }
    // Calls visit(name, Field) for each member of an object.
    template <typename Visit>
    void members(Visit visit) const {
        if (!present()) return;
        if (!value_->is_object()) fail("not an object");
        for (const auto& [name, value] : value_->items()) visit(name, Field(&value, this, name));
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
    static constexpr std::size_t kNamed = static_cast<std::size_t>(-1);
    Field(const Json* value, const Field* parent, std::string_view name, std::size_t index = kNamed)
        : value_(value), parent_(parent), name_(name), index_(index) {}

    const Json* value_;
    const Field* parent_ = nullptr;  // outlives this: fields are made and used within one expression or call
    std::string_view name_;
    std::size_t index_ = kNamed;
    std::string root_;
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
    machine.physical = static_cast<long>(object["processors_physical"].optional_whole(0, 1 << 24).value_or(0));
    machine.kernel = object["kernel"].text_or("");
    machine.memory_bytes = static_cast<unsigned long long>(
        object["memory_bytes"].optional_whole(0, std::numeric_limits<long long>::max()).value_or(0));
    machine.governor = object["governor"].text_or("");
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

// The bytes of a path that is not UTF-8, which the writer gives as hex digits.
std::string bytes_of_hex(const Field& field) {
    const std::string hex = field.text();
    auto digit = [&field](char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        field.fail("not pairs of hex digits");
    };
    if (hex.size() % 2 != 0) field.fail("not pairs of hex digits");
    std::string bytes;
    for (std::size_t i = 0; i < hex.size(); i += 2) bytes += static_cast<char>(digit(hex[i]) * 16 + digit(hex[i + 1]));
    return bytes;
}

Build build_of(const Field& object) {
    Build build;
    build.id = object["id"].text_or("A");
    build.path = object["path"].text_or("");
    if (object["path_hex"].present()) build.path = bytes_of_hex(object["path_hex"]);
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

template <std::size_t N>
std::size_t index_of(const std::array<const char*, N>& names, const std::string& name) {
    std::size_t i = 0;
    while (i < N && name != names[i]) ++i;
    return i;
}

// An object of exactly the given names, each visited with its place.
template <std::size_t N, typename Visit>
void named_members(const Field& object, const std::array<const char*, N>& names, const char* what, Visit visit) {
    object.members([&](const std::string& name, const Field& value) {
        if (index_of(names, name) == N) value.fail(std::string("not ") + what);
    });
    for (std::size_t i = 0; i < N; ++i) visit(i, object[names[i]]);
}

ModuleTimes module_times_of(const Field& object) {
    ModuleTimes times{};
    named_members(object, kModuleNames, "a module of the work unit", [&times](std::size_t i, const Field& value) {
        const std::optional<double> ms = value.optional_number();
        if (!ms || *ms < 0) value.fail("not a number of at least 0");
        times[i] = *ms;
    });
    return times;
}

ModuleCounters module_counters_of(const Field& object) {
    ModuleCounters counters{};
    named_members(object, kModuleNames, "a module of the work unit", [&counters](std::size_t m, const Field& module) {
        if (!module.present()) module.fail("missing");
        named_members(module, kEventNames, "a counted event", [&](std::size_t e, const Field& value) {
            counters[m][e] = value.optional_number();
            if (counters[m][e] && *counters[m][e] < 0) value.fail("not a number of at least 0");
        });
    });
    return counters;
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
    if (object["module_ms"].present()) run.module_ms = module_times_of(object["module_ms"]);
    if (object["module_counters"].present()) run.module_counters = module_counters_of(object["module_counters"]);
    return run;
}

// The runs of a file as they were read, and the first fault among them.
struct ReadRuns {
    std::vector<RunRecord> runs;
    std::optional<std::string> fault;
};

enum class Parse { read, too_deep, not_json };

// Builds the tree of a JSON text event by event, at most kMaxNesting levels
// deep, except the items of the top level's `runs`: each is handed over as a
// tree of its own as soon as it ends, so that reading costs time linear in
// the text and memory for one run's tree at a time. The items of the lists
// of figures, which are computed anew and never read, are dropped as they
// end: a merged file's rounds are as many as its runs. (The library's
// callback parser, the other way to bound the depth, looks over the
// enclosing list again at the end of every object in it.)
class TreeBuilder : public nlohmann::json_sax<Json> {
public:
    // Called with each item of runs and its place there; 0 again for a second runs.
    using Item = std::function<void(Json, std::size_t)>;
    TreeBuilder(Json& root, Item item) : root_(root), item_(std::move(item)) {}
    bool too_deep = false;

    bool null() override { return value(nullptr); }
    bool boolean(bool v) override { return value(v); }
    bool number_integer(number_integer_t v) override { return value(v); }
    bool number_unsigned(number_unsigned_t v) override { return value(v); }
    bool number_float(number_float_t v, const string_t&) override { return value(v); }
    bool string(string_t& v) override { return value(std::move(v)); }
    bool binary(binary_t& v) override { return value(Json::binary(std::move(v))); }
    bool start_object(std::size_t) override { return open(Json::object()); }
    bool start_array(std::size_t) override { return open(Json::array()); }
    bool key(string_t& name) override {
        key_ = std::move(name);
        return true;
    }
    bool end_object() override { return close(); }
    bool end_array() override { return close(); }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

private:
    Json& root_;
    Item item_;
    std::vector<Json*> open_;  // the containers open, innermost last
    std::string key_;
    enum class List { other, runs, figures };
    List list_ = List::other;  // what open_[1] is, where it is a list of the top level
    Json run_;                 // the item of runs (or of figures) being read
    std::size_t items_ = 0;

    bool at_runs() const { return list_ != List::other && open_.size() == 2; }
    void hand_over() {
        if (list_ == List::runs) item_(std::move(run_), items_++);
        run_ = nullptr;
    }
    // Where a value goes: into its container, or the run being read.
    Json* place(Json&& v) {
        if (open_.empty()) return &(root_ = std::move(v));
        if (at_runs()) return &(run_ = std::move(v));
        Json& parent = *open_.back();
        if (parent.is_array()) {
            parent.push_back(std::move(v));
            return &parent.back();
        }
        // A name given twice keeps its last value, as the library's own tree does.
        return &(parent[key_] = std::move(v));
    }
    bool value(Json&& v) {
        const bool run = at_runs();
        place(std::move(v));
        if (run) hand_over();
        return true;
    }
    bool open(Json&& v) {
        if (open_.size() >= static_cast<std::size_t>(kMaxNesting)) {
            too_deep = true;
            return false;
        }
        const bool list = open_.size() == 1 && v.is_array();
        const bool figures = key_ == "rounds" || key_ == "summary" || key_ == "comparison";
        open_.push_back(place(std::move(v)));
        if (list && (key_ == "runs" || figures)) {
            list_ = key_ == "runs" ? List::runs : List::figures;
            items_ = 0;
        }
        return true;
    }
    bool close() {
        open_.pop_back();
        if (at_runs()) hand_over();
        if (open_.size() == 1) list_ = List::other;
        return true;
    }
};

template <typename Input>
Parse parse_keeping_runs_apart(Input&& input, Json& root, TreeBuilder::Item item) {
    TreeBuilder builder(root, std::move(item));
    if (Json::sax_parse(std::forward<Input>(input), &builder)) return Parse::read;
    return builder.too_deep ? Parse::too_deep : Parse::not_json;
}

// A stream of at most `most` bytes of another, and whether there was more:
// a file may grow between the look at its size and its end.
class BoundedInput : public std::streambuf {
public:
    BoundedInput(std::istream& in, std::uintmax_t most) : in_(in), left_(most), stream_(this) {}
    std::istream& stream() { return stream_; }
    bool exceeded() const { return exceeded_; }

protected:
    int_type underflow() override {
        if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
        const std::streamsize n = in_.rdbuf()->sgetn(buffer_, sizeof buffer_);
        if (n <= 0) return traits_type::eof();
        if (static_cast<std::uintmax_t>(n) > left_) {
            exceeded_ = true;
            return traits_type::eof();
        }
        left_ -= static_cast<std::uintmax_t>(n);
        setg(buffer_, buffer_, buffer_ + n);
        return traits_type::to_int_type(*gptr());
    }

private:
    std::istream& in_;
    std::uintmax_t left_;
    bool exceeded_ = false;
    char buffer_[1 << 16];
    std::istream stream_;
};

// The fields of a call, at the top level of a file of one call or in an entry
// of a merged file's calls.
void call_fields_of(CallRecord& call, const Field& object) {
    call.started_utc = object["started_utc"].text_or("");
    call.ended_utc = object["ended_utc"].text_or("");
    call.command_line = object["command_line"].texts();
    call.ptrun_version = object["ptrun_version"].text_or("");
    if (object["settings"].present()) call.settings = settings_of(object["settings"]);
    call.stopped_because = object["stopped_because"].text_or("");
    if (object["reportable"].present()) call.reportable = object["reportable"].flag_or(false);
    call.reportable_reasons = object["reportable_reasons"].texts();
    call.citation = object["citation"].optional_text();
    if (const auto from = object["upgraded_from"].optional_whole(1, kSchemaVersion)) call.upgraded_from = int(*from);
    call.counters_unavailable = object["counters_unavailable"].optional_text();
}

// What merging the file again needs is there: without its recorded builds a
// call's runs would be credited to whichever build now has their id.
CallRecord call_of(const Field& object) {
    CallRecord call;
    call.call_id = object["call_id"].text();
    if (call.call_id.empty()) object["call_id"].fail("empty");
    call.host = object["host"].text();
    call.recorded_host = object["recorded_host"].text();
    call.outcome = object["outcome"].text();
    call.no_results_reason = object["no_results_reason"].optional_text();
    if (!object["recorded_builds"].present()) object["recorded_builds"].fail("missing");
    object["recorded_builds"].members(
        [&call](const std::string& name, const Field& value) { call.builds[name] = value.text(); });
    call_fields_of(call, object);
    return call;
}

bool known_outcome(const std::string& outcome) {
    return outcome == "completed" || outcome == "failed" || outcome == "interrupted" || outcome == kNoResults;
}

// Schema 1 had one host and one build and no ids: they are made up here, the
// call's id from a canonical form of what the file says (the document as
// this writer writes it), so that the same call read twice is the same call
// however its file was laid out.
void upgrade_from_1(Document& doc) {
    CallRecord& call = doc.calls.front();
    call.upgraded_from = 1;
    doc.builds.front().id = "A";
    doc.builds.front().validated = false;
    doc.builds.front().validation = "not checked: written by an earlier ptrun";
    doc.pt_version = doc.builds.front().info.version.empty() ? "unknown" : doc.builds.front().info.version;
    for (RunRecord& run : doc.runs) run.warmup = false;
    Digest digest;
    write_results(doc, [&digest](const std::string& text) { digest.add(text); });
    call.call_id = digest.hex();
    call.host = call.recorded_host = doc.hosts.front().id = "host-" + call.call_id.substr(0, 8);
    call.builds = {{"A", "A"}};
    for (RunRecord& run : doc.runs) {
        run.call_id = call.call_id;
        run.host = call.host;
        run.build = "A";
    }
}

void read_hosts_and_builds(Document& doc, const Field& top, int version, bool stub) {
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
}

// The runs were read while the file was (runs.h), each as soon as it ended;
// the first fault among them is told here, after the faults of the fields a
// file gives before its runs.
void read_document(Document& doc, const Field& top, int version, ReadRuns& runs) {
    CallRecord own;
    own.outcome = top["outcome"].text();
    if (!known_outcome(own.outcome)) top["outcome"].fail("not completed, failed, interrupted or no results");
    const bool stub = own.outcome == kNoResults;
    if (stub) own.no_results_reason = top["no_results_reason"].text();
    if (version == 1 && (!top["machine"].present() || !top["pt"].present())) {
        top.fail("no schema_version, machine or pt");
    }
    own.call_id = version == 1 ? "" : top["call_id"].text();
    if (version > 1 && own.call_id.empty()) top["call_id"].fail("empty");
    call_fields_of(own, top);
    doc.pt_version = top["pt_version"].text_or("unknown");
    read_hosts_and_builds(doc, top, version, stub);
    if (!top["runs"].present()) top["runs"].fail("missing");
    top["runs"].each([](const Field&) {});  // a list, its items read already
    if (runs.fault) throw BadField(*runs.fault);
    doc.runs = std::move(runs.runs);
    doc.merged = top["calls"].present();
    top["calls"].each([&doc](const Field& item) { doc.calls.push_back(call_of(item)); });
    if (doc.merged && doc.calls.empty()) top["calls"].fail("no call");
    if (doc.merged) return;
    own.host = own.recorded_host = doc.hosts.front().id;
    for (const Build& build : doc.builds) own.builds[build.id] = build.id;
    doc.calls.push_back(std::move(own));
    if (version == 1) upgrade_from_1(doc);
}

// Every run names a host, build and call of the document; a file of one call
// may leave them out, as schema 1 did.
void check_references(Document& doc) {
    std::set<std::string> hosts, builds;
    for (const Host& host : doc.hosts) hosts.insert(host.id);
    for (const Build& build : doc.builds) builds.insert(build.id);
    std::map<std::string, std::set<std::string>> builds_of_call;
    for (std::size_t i = 0; i < doc.calls.size(); ++i) {
        const CallRecord& call = doc.calls[i];
        const std::string at = "calls[" + std::to_string(i) + "].";
        if (!hosts.count(call.host)) throw BadField(at + "host: no host " + call.host + " in hosts");
        std::set<std::string>& own = builds_of_call[call.call_id];
        for (const auto& [recorded, id] : call.builds) {
            if (!builds.count(id)) {
                throw BadField(at + "recorded_builds." + recorded + ": no build " + id + " in builds");
            }
            own.insert(id);
        }
    }
    const CallRecord& first = doc.calls.front();
    for (std::size_t i = 0; i < doc.runs.size(); ++i) {
        RunRecord& run = doc.runs[i];
        const std::string at = "runs[" + std::to_string(i) + "].";
        if (run.call_id.empty() && !doc.merged) run.call_id = first.call_id;
        if (run.host.empty() && !doc.merged) run.host = first.host;
        if (run.build.empty() && !doc.merged && !doc.builds.empty()) run.build = doc.builds.front().id;
        const auto call = builds_of_call.find(run.call_id);
        if (call == builds_of_call.end()) throw BadField(at + "call_id: no call " + run.call_id + " in the file");
        if (!hosts.count(run.host)) throw BadField(at + "host: no host " + run.host + " in hosts");
        if (!builds.count(run.build)) throw BadField(at + "build: no build " + run.build + " in builds");
        if (!call->second.count(run.build)) {
            throw BadField(at + "build: " + run.build + " is not among the recorded builds of call " + run.call_id);
        }
    }
}

// Scores each finite can still sum to infinity over a round's copies, and a
// round's rate score is that sum. No sum can where the largest score times
// the number of runs stays finite, which is every file of real scores: the
// rounds are added up only for the others.
void check_sums(const Document& doc) {
    double largest = 0;
    for (const RunRecord& run : doc.runs) largest = std::max(largest, run.score.value_or(0));
    if (largest <= std::numeric_limits<double>::max() / 2 / static_cast<double>(doc.runs.size() + 1)) return;
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

// The document read from a JSON text, whole or as a stream: the runs are read
// one at a time as the text goes by, everything else as one small tree.
template <typename Input>
std::optional<Document> read_results(Input&& input, const std::string& name, std::string& error) {
    ReadRuns runs;
    Json json;
    const Parse parse = parse_keeping_runs_apart(std::forward<Input>(input), json, [&runs](Json item, std::size_t at) {
        if (at == 0) runs = {};
        if (runs.fault) return;
        try {
            runs.runs.push_back(run_of(Field(&item, "runs[" + std::to_string(runs.runs.size()) + "]")));
        } catch (const BadField& e) {
            runs.fault = e.what();
        }
    });
    if (parse == Parse::too_deep) {
        error = name + " is not a ptrun results file: nested deeper than " + std::to_string(kMaxNesting) + " levels";
        return std::nullopt;
    }
    if (parse == Parse::not_json) {
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
        read_document(doc, top, version, runs);
        check_references(doc);
        check_sums(doc);
        return doc;
    } catch (const BadField& e) {
        error = name + " is not a ptrun results file: " + e.what();
    }
    return std::nullopt;
}

}  // namespace

std::optional<Document> parse_results(const std::string& text, const std::string& name, std::string& error) {
    return read_results(text, name, error);
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
    // Read as a stream, never held whole: the runs are what a file holds most of.
    BoundedInput bounded(in, kMaxResultsBytes);
    std::optional<Document> doc = read_results(bounded.stream(), path, error);
    if (bounded.exceeded()) {
        error = path + " is not a ptrun results file: not a regular file of at most 256 MiB";
        return std::nullopt;
    }
    return doc;
}

}  // namespace ptrun
