// Results of many calls (many hosts, or many calls on one host) as one
// document of the same schema: every run keeps its call, host, build and
// times; the same call read twice counts once.
#pragma once

#include <string>
#include <vector>

#include "results.h"

namespace ptrun {

struct MergeCount {
    std::size_t runs = 0, duplicates = 0;
};

// Documents as load_results gives them; the figures are recomputed.
Json merge_documents(const std::vector<Json>& documents, MergeCount* count = nullptr);

// Loads every file; on the first that is not a results file, nothing, and
// why in error.
std::optional<std::vector<Json>> load_all(const std::vector<std::string>& paths, std::string& error);

// `ptrun merge FILE... -o OUT`; argv starts after "merge".
int merge_command(const std::vector<std::string>& args);

}  // namespace ptrun
