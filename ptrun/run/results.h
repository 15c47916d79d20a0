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

// 16 hex digits, new for every call.
std::string new_call_id();

// The whole document of one call: its figures, verdict and comparison. The
// call gives its id and times; the rest of its record is made here.
Document results_document(const Settings& settings, const CallRecord& call, const Machine& machine,
                          const std::vector<Build>& builds, const Session& session);

}  // namespace ptrun
