// Results of many calls as series, one per host, build and copy count, in
// the order the calls started, with the change points of each and what
// differs between the calls either side of a change: what `ptrun history`
// shows and gates on.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <unordered_set>
#include <utility>
#include <vector>

#include "decide/changepoint.h"
#include "model/document.h"

namespace ptrun {

struct SeriesCall {
    std::string call_id, started_utc, file;
    std::vector<double> rounds;  // the rate scores of its rounds outside warm-up, in the order run
    double median = 0;
    // What the call ran on and with, for the differences at a change.
    std::shared_ptr<const Build> build;
    std::shared_ptr<const Host> host;
};

struct SeriesChange {
    std::size_t first_call = 0;  // index in the series' calls of the first call after the change
    ChangePoint point;
    std::vector<Difference> differences;  // the last call before against the first after
};

struct Series {
    std::string host;   // the host's label, else its hostname
    std::string build;  // the build's path
    int copies = 0;
    std::vector<SeriesCall> calls;  // ordered by started_utc, then call_id
    std::vector<SeriesChange> changes;
};

// What `ptrun history` read and found.
struct History {
    std::size_t files_read = 0, duplicates = 0;
    std::vector<std::pair<std::string, std::string>> skipped;  // a file that is not a results file, and why
    std::vector<Series> series;
};

// Gathers the calls of many results documents, one document at a time, so
// that only rounds and descriptions are held, never the documents.
class HistoryBuilder {
public:
    // The document's figures must be computed. A call already added (the
    // same call in a host's file and in a merge of the fleet's) counts once.
    void add(const Document& document, const std::string& file);
    std::size_t duplicates() const { return duplicates_; }
    // The series in the order of host, build and copy count, each with its
    // change points and their differences.
    std::vector<Series> finish(const ChangePointSettings& settings = {});

private:
    struct Gathered {
        Series series;
        std::unordered_set<std::string> call_ids;
    };
    std::map<std::tuple<std::string, std::string, int>, Gathered> gathered_;
    std::size_t duplicates_ = 0;
};

}  // namespace ptrun
