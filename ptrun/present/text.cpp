#include "present/text.h"

#include <cmath>
#include <cstdio>

#include "decide/levels.h"
#include "decide/power.h"

namespace ptrun {

namespace {

std::string printed(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string escaped(unsigned byte) {
    char text[8];
    std::snprintf(text, sizeof text, "\\x%02x", byte);
    return text;
}

}  // namespace

std::string visible(std::string_view text, bool keep_newlines) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        // C1 controls are U+0080 to U+009F, written in UTF-8 as C2 80 to C2 9F.
        const bool c1 = byte == 0xC2 && i + 1 < text.size() && (static_cast<unsigned char>(text[i + 1]) & 0xE0) == 0x80;
        if (c1) {
            out += escaped(static_cast<unsigned char>(text[++i]));
        } else if ((byte < 0x20 && !(keep_newlines && byte == '\n')) || byte == 0x7F) {
            out += escaped(byte);
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string ratio_text(double ratio) { return printed("%.4f", ratio); }

std::string interval_text(const SampleComparison& c) {
    return ratio_text(c.ratio_low) + " to " + ratio_text(c.ratio_high);
}

std::string coverage_text(const SampleComparison& c) { return printed("%.1f", c.confidence * 100) + " %"; }

std::string p_text(double p) { return p >= 0.0001 || p == 0 ? printed("%.4f", p) : printed("%.1e", p); }

std::string detectable_percent(const SampleComparison& c) {
    if (!c.detectable_slowdown) return "";
    // Rounds that did not spread at all would have shown any slowdown: not one "of 0.0 %".
    if (*c.detectable_slowdown < 0.0005) return "under 0.1 %";
    return printed("%.1f", *c.detectable_slowdown * 100) + " %";
}

std::string detectable_text(const SampleComparison& c) {
    if (!c.detectable_slowdown) return "";
    return "a slowdown of " + detectable_percent(c) + " would have been seen " + std::to_string(kPowerPercent) +
           " % of the time";
}

std::vector<std::pair<std::string, std::string>> detectable_facts(const std::vector<ComparisonEntry>& entries) {
    std::vector<std::pair<std::string, std::string>> facts;
    for (const ComparisonEntry& e : entries) {
        if (!e.figures.detectable_slowdown) continue;
        facts.emplace_back(e.b + " against " + e.a + ", " + copies_text(e.copies) +
                               (e.b_host != e.host ? " (" + e.b_host + " against " + e.host + ")" : ""),
                           detectable_text(e.figures));
    }
    return facts;
}

std::string verdict_words(const SampleComparison& c) {
    if (c.verdict == Verdict::no_difference && c.detectable_slowdown) {
        return std::string(verdict_text(c.verdict)) + "; " + detectable_text(c);
    }
    if (c.verdict != Verdict::faster && c.verdict != Verdict::slower) return verdict_text(c.verdict);
    return std::string(verdict_text(c.verdict)) + " by " + printed("%.1f", std::fabs(c.estimate - 1) * 100) + " %";
}

std::string module_verdict_words(const SampleComparison& c) {
    // The figures compare times, where higher is slower: the score's "faster" is B taking longer.
    const std::string by = printed("%.1f", std::fabs(c.estimate - 1) * 100) + " %";
    switch (c.verdict) {
        case Verdict::faster: return "B takes " + by + " longer";
        case Verdict::slower: return "B takes " + by + " less";
        case Verdict::no_difference: return verdict_text(c.verdict);
        case Verdict::too_few: break;
    }
    return "too few rounds to decide";
}

std::string comparison_line(const SampleComparison& c) {
    return verdict_words(c) + " (estimate " + ratio_text(c.estimate) + ", interval " + interval_text(c) + " at " +
           coverage_text(c) + ", p = " + p_text(c.p_value) + ")";
}

std::vector<std::string> gate_lines(const Comparison& comparison) {
    std::vector<std::string> lines;
    if (!comparison.gate_rule) return lines;
    const GateRule& rule = *comparison.gate_rule;
    const GateFold& fold = comparison.gate;
    const std::string beyond = printed("%g", rule.percent) + " %";
    const auto entry = [&comparison](std::size_t i) -> const ComparisonEntry& { return comparison.entries[i]; };
    for (const std::size_t i : fold.undecided) {
        const SampleComparison& c = entry(i).figures;
        lines.push_back("gate: " + entry_name(entry(i)) + ": too few runs to decide (" + std::to_string(c.n_a) +
                        " against " + std::to_string(c.n_b) + ")");
    }
    for (const std::size_t i : fold.failed) {
        lines.push_back("gate failed: " + entry_name(entry(i)) + ": " + comparison_line(entry(i).figures) +
                        ", more than " + beyond + (rule.strict ? " (strict: the whole interval)" : ""));
    }
    if (fold.result == Gate::undecided) {
        lines.push_back("the gate cannot decide: run at least " + std::to_string(kFewestDecidable) +
                        " rounds of each build");
    } else if (fold.result == Gate::pass) {
        lines.push_back("gate passed: B is not shown slower than A by more than " + beyond +
                        (rule.strict ? " (strict: the whole interval)" : ""));
        for (const std::size_t i : fold.unruled) {
            lines.push_back("note: " + entry_name(entry(i)) + ": the interval reaches " +
                            printed("%.1f", (1 - entry(i).figures.ratio_low) * 100) + " % below A, so these rounds "
                            "cannot rule out a slowdown of more than " + beyond);
        }
    }
    return lines;
}

}  // namespace ptrun
