// Results of many calls as series, one per machine, build and copy count,
// in the order the calls started: each series' levels, the change points
// between them with what differs between the levels either side, its
// outlier calls, and, where asked, the gate of its newest level against its
// baseline. What `ptrun history` shows and gates on.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <span>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "decide/block_store.h"
#include "decide/changepoint.h"
#include "decide/level_gate.h"
#include "model/accepted.h"
#include "model/document.h"

namespace ptrun {

struct SeriesCall {
    std::string call_id, started_utc, file;
    std::vector<double> rounds;  // the rate scores of its rounds outside warm-up, in the order run
    double median = 0;
    // What the call ran on and with, for the differences at a change.
    std::shared_ptr<const Build> build;
    std::shared_ptr<const Host> host;
    std::vector<ModuleFigures> module_ms;  // of its profiled rounds, where it was profiled
};

// A module whose time per work unit moved across a change: after over before.
struct ModuleShift {
    std::size_t module = 0;  // in kModuleNames
    SampleComparison figures;
};

struct SeriesChange {
    std::size_t first_call = 0;  // index in the series' calls of the first call after the change
    ChangePoint point;
    // What differs between the levels either side (what most of each level's
    // calls ran with), and between the calls either side of the split.
    std::vector<Difference> differences;
    std::vector<ModuleShift> modules;  // where both levels were profiled
    std::optional<AcceptedChange> accepted;  // the acceptance of the level after it
};

struct SeriesOutlier {
    std::size_t call = 0;
    double ratio = 1;  // the call's value over its level's
    std::vector<Difference> differences;  // against the call before it that is none
};

// The acceptance of a level of the series: the accepted call's index, and
// the change it is shown at, if any starts the level that holds the call.
struct SeriesAcceptance {
    AcceptedChange change;
    std::size_t call = 0;
    std::optional<std::size_t> at_change;
};

struct SeriesGate {
    double percent = 0;
    bool strict = false;
    LevelGate decision;
    std::vector<Difference> differences;  // between the baseline level and the newest, where they differ
};

struct Series {
    std::string host;            // the host's label, else its hostname; "name [2]" for a second machine of one name
    std::string build;           // the build's path
    std::string build_id = "A";  // the id its calls gave it: two builds of one call are two series
    int copies = 0;
    std::vector<SeriesCall> calls;  // ordered by started_utc; calls without one first, in the order read
    std::vector<SeriesChange> changes;
    std::vector<Level> levels;
    std::vector<SeriesOutlier> outliers;
    std::vector<SeriesAcceptance> accepted;
    Unit unit = Unit::calls;
    double call_spread = 0, round_spread = 0;  // relative
    std::optional<SeriesGate> gate;
};

// What `ptrun history` read and found.
struct History {
    std::size_t files_read = 0, duplicates = 0;
    std::vector<std::pair<std::string, std::string>> skipped;  // a file that is not a results file, and why
    std::vector<Series> series;
};

struct HistorySettings {
    ChangePointSettings change_points;
    std::vector<AcceptedChange> accepted;
    std::optional<double> gate_percent;  // the gate, where asked
    bool gate_strict = false;
};

// "web-1, /opt/pt/bin/pt, 1 copy"; a build other than a call's first adds
// its id: "web-1, /opt/pt/bin/pt (B), 1 copy".
std::string series_name(const Series& series);

// The change to accept: the series named (as series_name names it) and its
// call `call` (its id, or the start of an id that no other call of the
// series shares) as the first call after the change; who, when and why
// are the caller's to fill. Nothing, and why, where either is not found.
std::optional<AcceptedChange> change_to_accept(const std::vector<Series>& all, const std::string& series,
                                               const std::string& call, std::size_t& index, std::string& error);

// Accepts a change of the series as though the settings had named it, and
// judges its gate again: what `ptrun history --accept` shows at once.
void accept_in(Series& series, const AcceptedChange& change, const HistorySettings& settings);

// Gathers the calls of many results documents, one document at a time, so
// that only rounds and descriptions are held, never the documents. What it
// holds of each call until finish() lies in a few large blocks, not among
// the pieces each document's reading frees: the cost of a call stays the
// same however many were gathered before it.
class HistoryBuilder {
public:
    // The document's rounds must be computed. A call already added (the
    // same call in a host's file and in a merge of the fleet's) counts once.
    void add(const Document& document, const std::string& file);
    // The calls added again, known once finished.
    std::size_t duplicates() const { return duplicates_; }
    // The series in the order of host, build and copy count, each with its
    // levels, change points and their causes, outlier calls and gate.
    std::vector<Series> finish(const HistorySettings& settings = {});

private:
    // A call as gathered, its texts and rounds in the blocks.
    struct Kept {
        std::string_view call_id, started_utc, file;
        std::span<const double> rounds;
        std::shared_ptr<const Build> build;
        std::shared_ptr<const Host> host;
        std::vector<ModuleFigures> module_ms;
    };
    struct Gathered {
        Series series;            // its host, build and copies; calls come at finish()
        std::vector<Kept> calls;  // in the order added, a call added again among them
    };
    std::vector<SeriesCall> calls_once(std::vector<Kept>& kept);

    // machine, build path, build id, copies
    std::map<std::tuple<std::string, std::string, std::string, int>, Gathered> gathered_;
    BlockStore<char> texts_;
    BlockStore<double> rounds_;
    std::size_t duplicates_ = 0;
};

}  // namespace ptrun
