// The results document of a call, from what it ran: the typed model the
// writer (model/writer.h) turns into the file.
#pragma once

#include <string>
#include <vector>

#include "run/machine.h"
#include "model/document.h"
#include "run/settings.h"
#include "run/runner.h"

namespace ptrun {

struct Call {
    std::string id;  // 16 hex digits
    std::string started_utc, ended_utc;
};

std::string new_call_id();

// The whole document of one call: its figures, verdict and comparison.
Document results_document(const Settings& settings, const Call& call, const Machine& machine,
                          const std::vector<Build>& builds, const Session& session);

}  // namespace ptrun
