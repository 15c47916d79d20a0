// Results of many calls (many hosts, or many calls on one host) as one
// document of the same schema: every run keeps its call, host, build and
// times. A run is identified by its call, its build as that call recorded
// it, its copy count, round and copy; the same call read twice counts once,
// and merging a file into a merge that holds it changes nothing.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "model/document.h"

namespace ptrun {

struct MergeCount {
    std::size_t runs = 0, duplicates = 0;
};

// A document and the file it came from, for the messages.
struct Source {
    std::string file;
    Document document;
};

// Two sources that give one call (or one run) different contents.
struct MergeConflict : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The runs, hosts, builds and calls of every source; the figures are
// decide/analyse's to compute. Throws MergeConflict naming both files. The
// sources' runs move into the result.
Document merge_documents(std::vector<Source> sources, MergeCount* count = nullptr);

// Loads every file; on the first that is not a results file, nothing, and
// why in error.
std::optional<std::vector<Source>> load_all(const std::vector<std::string>& paths, std::string& error);

}  // namespace ptrun
