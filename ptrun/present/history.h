// `ptrun history` in every format of the table (formats.h): the series of
// calls, their change points and what changed at each, as a terminal table,
// Markdown, CSV, an HTML page with a chart per series, or JSON; the writers
// are reached through that table, these texts also by the gate's messages.
#pragma once

#include <string>
#include <vector>

#include "decide/history.h"

namespace ptrun {

// "host, build, 1 copy"
std::string series_text(const Series& series);
// "-4.8 %": the estimate of after against before.
std::string change_size_text(const SampleComparison& figures);
// "kernel 6.1.0-18 -> 6.1.0-21; microcode 0xa -> 0xb", or "nothing recorded differs".
std::string differences_text(const std::vector<Difference>& differences);

}  // namespace ptrun
