// How every format writes a comparison's figures, so that an estimate,
// interval, p or verdict reads the same in a terminal, Markdown, CSV, a page
// and the gate's messages; and text from input made safe to show.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include <vector>

#include "decide/compare.h"
#include "model/figures.h"

namespace ptrun {

// Text from a file, a host or the command line with every control character
// (C0, DEL and C1) written out visibly as \xNN, so that none reaches a
// terminal or a table raw: an escape sequence cannot clear the screen or
// print over a line, and a newline cannot start a line of its own. With
// keep_newlines a '\n' stays (a CSV field in quotes, a message's own lines).
std::string visible(std::string_view text, bool keep_newlines = false);

// A ratio of B to A: "0.9737" (four decimals, whatever the locale).
std::string ratio_text(double ratio);
// "0.9520 to 0.9940"
std::string interval_text(const SampleComparison& figures);
// The coverage the interval really has: "95.2 %"
std::string coverage_text(const SampleComparison& figures);
// "0.0123", or in exponent form below 0.0001 ("3.1e-05"), never a bare 0.
std::string p_text(double p);
// The verdict with the estimate it rests on: "slower by 2.6 %", "no
// difference shown; a slowdown of 3.1 % would have been seen 80 % of the
// time", "too few runs to decide".
std::string verdict_words(const SampleComparison& figures);
// What the rounds could have seen: "a slowdown of 3.1 % would have been
// seen 80 % of the time"; empty where it was not worked out.
std::string detectable_text(const SampleComparison& figures);
// The slowdown alone, "3.1 %", or "" where it was not worked out.
std::string detectable_percent(const SampleComparison& figures);
// Per entry of a comparison, who it is and what it could have seen, for the
// formats that list it apart from the verdict.
std::vector<std::pair<std::string, std::string>> detectable_facts(const std::vector<ComparisonEntry>& entries);
// A module's verdict on B's time over A's: "B takes 3.1 % longer", "B takes
// 3.1 % less", "no difference shown", "too few rounds to decide".
std::string module_verdict_words(const SampleComparison& figures);
// The whole of it in one line: "slower by 2.6 % (estimate 0.9737, interval
// 0.9520 to 0.9940 at 95.2 %, p = 0.0123)".
std::string comparison_line(const SampleComparison& figures);

// What the gate of a comparison decided, a line each, in the words above:
// every entry it failed or could not decide, then the outcome, then the
// entries whose interval could not rule out a slowdown beyond the gate.
// Empty where no gate was asked for.
std::vector<std::string> gate_lines(const Comparison& comparison);

}  // namespace ptrun
