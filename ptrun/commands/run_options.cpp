#include "commands/run_options.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>

#include "system/host.h"
#include "system/output.h"

namespace ptrun {

namespace fs = std::filesystem;

namespace {

std::vector<int> parse_cpus(const std::string& text) {
    const std::vector<int> usable = usable_processors();
    std::vector<int> cpus;
    for (const std::string& part : split(text, ',')) {
        const std::vector<std::string> range = split(part, '-');
        const std::optional<long> first = whole_number(range[0]);
        const std::optional<long> last = range.size() == 2 ? whole_number(range[1]) : first;
        if (range.size() > 2 || !first || !last || *first > *last) {
            throw UsageError("bad processor list \"" + text + "\"");
        }
        for (long cpu = *first; cpu <= *last; ++cpu) {
            if (std::find(usable.begin(), usable.end(), cpu) == usable.end()) {
                throw UsageError("processor " + std::to_string(cpu) + " is not online or not available to ptrun");
            }
            if (std::find(cpus.begin(), cpus.end(), cpu) != cpus.end()) {
                throw UsageError("processor " + std::to_string(cpu) + " is listed twice");
            }
            cpus.push_back(static_cast<int>(cpu));
        }
    }
    return cpus;
}

std::vector<int> parse_copies(const std::string& text, int processors) {
    std::vector<int> copies;
    std::vector<std::string> named;
    for (const std::string& part : split(text, ',')) {
        const std::optional<long> count = part == "all" ? std::optional<long>(processors) : whole_number(part);
        if (!count || *count < 1 || *count > kMaxCopies) {
            throw UsageError("bad copy count \"" + part + "\": a number from 1 to " + std::to_string(kMaxCopies) +
                        ", or all");
        }
        const std::string name = part == "all" ? part : std::to_string(*count);
        if (std::find(named.begin(), named.end(), name) != named.end()) {
            throw UsageError("copy count " + name + " is given twice");
        }
        named.push_back(name);
        // 1,all on one processor is one plan, not a mistake: a count that
        // all also stands for is run once.
        if (std::find(copies.begin(), copies.end(), *count) == copies.end()) copies.push_back(static_cast<int>(*count));
    }
    return copies;
}

// pt beside ptrun when installed, or in the build tree's src/.
std::string default_pt() {
    const std::string dir = own_directory();
    const std::string pt = program_file("pt");
    for (const std::string& candidate : {dir + "/" + pt, dir + "/../src/" + pt}) {
        if (is_executable_file(candidate)) return candidate;
    }
    throw UsageError("no pt found beside ptrun (" + dir + "/" + pt + "): name it with --pt");
}

// Finds out now, not after minutes of runs, whether FILE can be written.
void check_writable(const std::string& file) {
    Target target;
    std::string error;
    if (!resolve_target(file, target, error)) throw UsageError(error);
}

// The order of two or more builds: ABBA unless asked otherwise, and a new
// seed, recorded, so that a shuffled order can be run again.
void settle_order(Settings& settings, bool order_given) {
    if (settings.pts.size() > 1) {
        if (!order_given) settings.order = "abba";
        if (settings.order != "random" && settings.seed) {
            throw UsageError("--seed is the seed of --order random: give --order random too, or leave --seed out");
        }
        if (settings.order == "random" && !settings.seed) settings.seed = std::random_device{}() % 1000000000u;
    } else if (order_given || settings.seed) {
        throw UsageError("--order and --seed choose the order of two or more builds (--pt A --pt B)");
    }
}

// Every file and folder the call will use, checked before anything runs.
void check_paths(Settings& settings) {
    for (std::string& pt : settings.pts) {
        if (!is_executable_file(pt)) throw UsageError("no executable pt at " + pt);
        if (const std::string problem = start_problem(pt); !problem.empty()) throw UsageError(problem);
        pt = fs::canonical(pt).string();
    }
    if (!settings.json.empty()) check_writable(settings.json);
    if (std::string error; settings.keep.empty() && temporary_base(error).empty()) throw UsageError(error);
    if (!settings.keep.empty()) {
        std::error_code error;
        fs::create_directories(settings.keep, error);
        if (!may_write_in(settings.keep)) {
            throw UsageError("cannot keep the files in " + settings.keep);
        }
        settings.keep = fs::canonical(settings.keep).string();
    }
}

// A duration option's value in seconds.
double duration_option(const std::string& option, const std::string& value) {
    const std::optional<double> seconds = parse_duration(value);
    if (!seconds) throw UsageError("bad " + option + " \"" + value + "\": a duration such as 600, 90s, 30m or 2h");
    return *seconds;
}

}  // namespace

OptionTable run_table(RunInput& in) {
    Settings& s = in.settings;
    auto keep = [](std::string& into) { return [&into](const std::string& value) { into = value; }; };
    return {"run", "",
            "Runs pt unattended several times, one or more copies at once, each pinned to a processor of its own,\n"
            "and prints every run's score with the spread, the machine and the build they came from.\n",
            {
                {{"--runs"}, "N", "rounds per copy count (default 3, at most 100)",
                 [&s](const std::string& v) { s.runs = whole_option("--runs", v, 1, kMaxRuns); }},
                {{"--copies"}, "LIST", "copy counts, e.g. 1,2 or 1,all (default 1; all = one per processor)",
                 keep(in.copies)},
                {{"--cpus"}, "LIST", "processors to pin the copies to, e.g. 0 or 0,2-3\n"
                                     "(default: all ptrun may use)", keep(in.cpus)},
                {{"--pt"}, "PATH", "the pt to run (default: the one beside ptrun); twice or more: builds\n"
                                   "compared, their rounds interleaved",
                 [&s](const std::string& v) { s.pts.push_back(v); }},
                {{"--order"}, "abba|random", "the order of the builds' rounds with two or more --pt (default abba)",
                 [&](const std::string& v) {
                     if (v != "abba" && v != "random") throw UsageError("bad --order \"" + v + "\": abba or random");
                     s.order = v;
                     in.order_given = true;
                 }},
                {{"--seed"}, "N", "the seed of --order random (default: a new one, recorded)",
                 [&s](const std::string& v) { s.seed = whole_option("--seed", v, 0, 999999999); }},
                {{"--warmup-rounds"}, "K", "rounds run first and left out of the figures (default 0)",
                 [&s](const std::string& v) { s.warmup_rounds = whole_option("--warmup-rounds", v, 0, kMaxRuns); }},
                {{"--until-cv"}, "PCT", "add rounds until the spread is at most PCT (needs --max-runs or --max-time)",
                 [&s](const std::string& v) { s.until_cv = percent_option("--until-cv", v, 0, false); }},
                {{"--max-runs"}, "N", "at most N rounds per copy count and build under --until-cv",
                 [&s](const std::string& v) { s.max_runs = whole_option("--max-runs", v, 1, kMaxRuns); }},
                {{"--max-time"}, "DURATION", "start no round after DURATION (e.g. 30m) under --until-cv",
                 [&s](const std::string& v) { s.max_time_s = duration_option("--max-time", v); }},
                {{"--timeout"}, "SECONDS", "end a copy that runs longer and count it as failed (default 600)",
                 [&s](const std::string& v) { s.timeout_s = duration_option("--timeout", v); }},
                {{"--label"}, "TEXT", "name this host in the results", keep(s.label)},
                {{"--allow-unvalidated"}, "", "run a build whose work differs from the defined work, marked so",
                 [&s](const std::string&) { s.allow_unvalidated = true; }},
                {{"--no-profile"}, "", "leave out each copy's per-module profile (by the build's ptverify)",
                 [&s](const std::string&) { s.profile = false; }},
                {{"--json"}, "FILE", "also write every figure to FILE (- for standard output)",
                 [&s](const std::string& v) {
                     // An empty name would run the whole call and write nothing.
                     if (v.empty()) throw UsageError("--json needs a file name (- for standard output)");
                     s.json = v;
                 }},
                {{"--keep"}, "DIR", "keep the result files and pt's messages in DIR",
                 [&s](const std::string& v) {
                     // An empty name would keep nothing, in a temporary folder removed at the end.
                     if (v.empty()) throw UsageError("--keep needs a folder name");
                     s.keep = v;
                 }},
            },
            {{"0", "every run scored"},
             {"1", "a run failed, or the figures or the table could not be written"},
             {"2", "bad input, or a build that is not validated"},
             {"129, 130, 143", "ended by SIGHUP, SIGINT or SIGTERM (128 + the signal's number)"}}};
}

std::optional<Settings> read_run_settings(const std::vector<std::string>& args,
                                          const std::vector<std::string>& command_line) {
    RunInput in;
    if (!parse_options(run_table(in), args)) return std::nullopt;
    Settings& settings = in.settings;
    settings.command_line = command_line;
    if (settings.until_cv && settings.max_runs == 0 && settings.max_time_s == 0) {
        throw UsageError("--until-cv needs a bound: --max-runs N or --max-time DURATION");
    }
    if (!settings.until_cv && (settings.max_runs != 0 || settings.max_time_s != 0)) {
        throw UsageError("--max-runs and --max-time bound --until-cv; without it --runs sets the rounds");
    }
    settings.cpus = in.cpus.empty() ? usable_processors() : parse_cpus(in.cpus);
    settings.copies = parse_copies(in.copies, static_cast<int>(settings.cpus.size()));
    if (settings.pts.empty()) settings.pts.push_back(default_pt());
    if (settings.pts.size() > static_cast<std::size_t>(kMaxBuilds)) {
        throw UsageError("at most " + std::to_string(kMaxBuilds) + " builds in one call");
    }
    settle_order(settings, in.order_given);
    check_paths(settings);
    return settings;
}

}  // namespace ptrun
