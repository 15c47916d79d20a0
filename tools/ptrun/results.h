// The results file: written by a call, read back (and upgraded from older
// schemas) by compare, report and merge. The fields are described in
// docs/results-schema.md.
#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <vector>

#include "figures.h"
#include "machine.h"
#include "options.h"
#include "runner.h"

namespace ptrun {

using Json = nlohmann::ordered_json;

inline constexpr int kSchemaVersion = 2;
inline constexpr const char* kUnit = "work units per second";

struct Call {
    std::string id;  // 16 hex digits
    std::string started_utc, ended_utc;
};

std::string new_call_id();

Json build_json(const Build& build);
Json machine_json(const Machine& machine);

// The whole document of one call, its figures included.
Json results_document(const Settings& settings, const Call& call, const Machine& machine,
                      const std::vector<Build>& builds, const Session& session);

// Recomputes rounds, summary and flagged_runs from the runs.
void add_figures(Json& document);

std::vector<RunFigure> run_figures(const Json& document);
std::vector<RoundFigure> round_figures(const Json& document);
std::vector<SummaryFigure> summary_figures(const Json& document);

// As text that is valid UTF-8 JSON whatever the strings held, every number
// written so that it reads back exactly.
std::string dump(const Json& document);

// Reads a results file of this schema or an older one, upgraded to this
// one; nothing, and why in error, for anything else.
std::optional<Json> load_results(const std::string& path, std::string& error);
std::optional<Json> parse_results(const std::string& text, const std::string& name, std::string& error);

}  // namespace ptrun
