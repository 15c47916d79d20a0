// The results document as types: what a call wrote, what merge joined and
// what compare and report read. One reader (reader.h) builds it from a file
// and checks every field; one writer (writer.h) turns it back into the file.
// The fields are described in docs/results-schema.md.
#pragma once

#include <array>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "model/figures.h"
#include "model/host.h"
#include "model/limits.h"

namespace ptrun {

inline constexpr int kSchemaVersion = 3;
inline constexpr const char* kUnit = "work units per second";
// The outcome of a host of a fleet that produced nothing.
inline constexpr const char* kNoResults = "no results";

struct Host {
    std::string id, hostname;
    std::optional<std::string> label;
    std::optional<Machine> machine;  // absent in a stub of a host that produced nothing
    bool environment_recorded = false;
};

// What the call was asked for; schema 1 recorded runs, copies and cpus only.
struct CallSettings {
    std::optional<int> runs, warmup_rounds, max_runs;
    std::vector<int> copies, cpus;
    std::optional<double> until_cv, max_time_s, timeout_s;
    std::optional<std::string> order;
    std::optional<long long> seed;
};

struct RunRecord {
    std::string call_id, host, build;
    int copies = 0, round = 0, copy = 0, cpu = 0;
    bool warmup = false;
    std::string started_utc, ended_utc;
    std::optional<double> score;
    double wall_s = 0, share = 0;
    long long involuntary_switches = 0;
    int exit_code = 0;
    std::optional<std::string> error;
    std::vector<std::string> pt_messages;
    bool messages_cut = false, low_share = false, speed_changed = false, flagged = false;
    Boxed<Snapshot> environment_before, environment_after;
    // The copy's profile, made right after it ran (schema 3): none where it
    // was not profiled, counters none where no event could be counted.
    Boxed<ModuleTimes> module_ms;
    Boxed<ModuleCounters> module_counters;
};

// One call as a merged file keeps it. `host` and the values of `builds` are
// ids in this document; recorded_host and the keys of builds are the ids the
// call itself gave them, which is what identifies its host, builds and runs
// however often the file is merged again.
struct CallRecord {
    std::string call_id, host, recorded_host;
    std::map<std::string, std::string> builds;  // id in the call -> id here
    std::string started_utc, ended_utc, outcome;
    std::optional<std::string> no_results_reason;
    std::vector<std::string> command_line;
    std::string ptrun_version;
    std::optional<CallSettings> settings;
    std::string stopped_because;
    std::optional<bool> reportable;
    std::vector<std::string> reportable_reasons;
    std::optional<std::string> citation;
    std::optional<int> upgraded_from;
    // Why the runs' profiles lack some or all counters, or lack altogether.
    std::optional<std::string> counters_unavailable;
};

// What differs between the two sides of a comparison and can move a score.
struct Difference {
    std::string what, a, b;
};

// B against A over the rounds outside warm-up of one copy count.
struct ComparisonEntry {
    std::string call_id, host;  // the call compared within (empty: every call) and A's host
    std::string b_host;         // B's host: A's but in the comparison of a fleet's series with its first
    int copies = 0;
    std::string a, b;
    SampleComparison figures;
    int flagged_a = 0, flagged_b = 0;  // rounds among those compared with a flagged run
    std::vector<Difference> differences;
    std::vector<ModuleComparison> modules;  // where both sides' rounds were profiled
};

// Where a host's build stands among the hosts of its kind (the same
// processor and build line) at one copy count: computed, never read.
struct HostStanding {
    std::string host, build;
    int copies = 0;
    std::size_t group_size = 0;
    double median = 0, percentile = 50, ratio_to_group_median = 1;
    bool outlier = false;  // slow for its kind
};

// A file of one call gives that call's fields at its top level; the document
// holds them once, in calls, and the writer puts them back there (model.h's
// whole_call).
struct Document {
    std::string pt_version;
    std::vector<Host> hosts;    // the first is the call's host
    std::vector<Build> builds;  // the first is its pt
    std::vector<RunRecord> runs;
    std::vector<CallRecord> calls;  // one per call; written as `calls` when merged
    bool merged = false;

    // Computed from the above, never read from a file.
    std::vector<RoundFigure> rounds;
    std::vector<SummaryFigure> summary;
    int flagged_runs = 0;
    std::vector<ComparisonEntry> comparisons;
    std::vector<HostStanding> standings;  // in the order of the summary
    std::vector<std::string> reportable_reasons;
    std::optional<std::string> citation;  // only where the document has one host
};

}  // namespace ptrun
