// `ptrun history` in every format of the table (formats.h): the series of
// calls with everything found in them (levels, change points with what
// changed and which modules moved, outlier calls, accepted changes, the
// gate) as a terminal table, Markdown, CSV, an HTML page with a chart per
// series and per kind of host, or JSON; the writers are reached through
// that table, these texts also by the gate's messages.
#pragma once

#include <string>
#include <vector>

#include "decide/history.h"

namespace ptrun {

// "host, build, 1 copy"; a build other than a call's first adds its id:
// "host, build (B), 1 copy".
std::string series_text(const Series& series);
// The baseline the series' gate judged against: "the first level, calls
// a-0 to a-17 (18 calls)", or the level accepted from a call.
std::string gate_baseline_text(const Series& series);
// The gate's result, what it compared with what, by how much, and what
// differs: "FAIL (fails beyond 3.0 % slower): the newest level, calls ...".
std::string gate_text(const Series& series);
// The medians of the series' levels: "1000.00 -> 950.00".
std::string levels_text(const Series& series);
// "-4.8 %": the estimate of after against before.
std::string change_size_text(const SampleComparison& figures);
// "kernel 6.1.0-18 -> 6.1.0-21; microcode 0xa -> 0xb", or "nothing recorded differs".
std::string differences_text(const std::vector<Difference>& differences);

}  // namespace ptrun
