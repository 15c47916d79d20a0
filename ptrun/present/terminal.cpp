#include "present/terminal.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <set>
#include <string>

#include "decide/compare.h"
#include "decide/levels.h"
#include "present/page.h"
#include "present/text.h"

namespace ptrun {

namespace {

// printf's formatting, appended to text: the table's columns are printf's
// widths, and a string keeps a %s argument's text up to its first NUL as
// printing it did.
[[gnu::format(printf, 2, 3)]] void appendf(std::string& text, const char* format, ...) {
    std::va_list args, again;
    va_start(args, format);
    va_copy(again, args);
    const int size = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    if (size > 0) {
        const std::size_t at = text.size();
        text.resize(at + static_cast<std::size_t>(size) + 1);
        std::vsnprintf(text.data() + at, static_cast<std::size_t>(size) + 1, format, again);
        text.resize(at + static_cast<std::size_t>(size));
    }
    va_end(again);
}

// A text from input as the terminal may show it.
std::string vis(const std::string& text) { return visible(text); }

std::string flags_of(const RunRecord& run) {
    std::string flags = run.low_share ? "share" : "";
    if (run.speed_changed) flags += flags.empty() ? "speed" : ",speed";
    if (run.warmup) flags += flags.empty() ? "warm-up" : ",warm-up";
    return flags;
}

std::string or_unknown(const std::optional<std::string>& text) { return text.value_or("unknown"); }
std::string or_unknown(const std::string& text) { return text.empty() ? "unknown" : text; }

// The settings that move a score, as the machine told them.
std::string environment_line(const Environment& environment) {
    std::string line = "SMT " + or_unknown(environment.smt) + ", boost " + or_unknown(environment.boost) +
                       ", hypervisor " + or_unknown(environment.hypervisor) + ", microcode " +
                       or_unknown(environment.microcode);
    const std::vector<CpuState>& cpus = environment.now.cpus;
    if (!cpus.empty() && cpus[0].max_khz) line += ", max " + std::to_string(*cpus[0].max_khz / 1000) + " MHz";
    return line;
}

void machine_lines(std::string& to, const Host& host) {
    if (!host.machine) return;
    const Machine& machine = *host.machine;
    appendf(to, "processor     %s, %ld online\n", vis(or_unknown(machine.processor)).c_str(), machine.online);
    if (!machine.emulator.empty()) {
        appendf(to, "emulator      %s: measured under an emulator, the scores say nothing of this machine\n",
                vis(machine.emulator).c_str());
    }
    appendf(to, "kernel        %s\n", vis(machine.kernel).c_str());
    appendf(to, "memory        %.1f GiB\n", static_cast<double>(machine.memory_bytes) / (1024.0 * 1024 * 1024));
    appendf(to, "governor      %s\n", vis(machine.governor).c_str());
    if (host.environment_recorded) {
        appendf(to, "environment   %s\n", vis(environment_line(machine.environment)).c_str());
    }
    appendf(to, "load average  %.2f %.2f %.2f before the first run\n\n", machine.load[0], machine.load[1],
            machine.load[2]);
}

// Which series a row belongs to: its host where the document has several
// (a merge of two hosts has a row per host and build), its build where the
// document has several.
struct Columns {
    bool builds = false;
    int host_width = 0;  // 0: no host column
    std::string head() const {
        char text[128];
        std::snprintf(text, sizeof text, "%-*s%s", host_width > 0 ? host_width + 2 : 0, host_width > 0 ? "host" : "",
                      builds ? "build  " : "");
        return text;
    }
    void row(std::string& to, const std::string& host, const std::string& build) const {
        if (host_width > 0) appendf(to, "%-*s  ", host_width, vis(host).c_str());
        if (builds) appendf(to, "%5s  ", vis(build).c_str());
    }
};

Columns columns_of(const Document& doc) {
    Columns columns{doc.builds.size() > 1, 0};
    if (doc.hosts.size() > 1) {
        columns.host_width = 4;
        for (const Host& host : doc.hosts) columns.host_width = std::max(columns.host_width, int(host.id.size()));
        columns.host_width = std::min(columns.host_width, 64);
    }
    return columns;
}

void run_lines(std::string& to, const Document& doc, const Columns& columns) {
    appendf(to, "%scopies  round  copy  cpu       score  wall s   share  invol. switches  flags\n",
            vis(columns.head()).c_str());
    for (const RunRecord& run : doc.runs) {
        columns.row(to, run.host, run.build);
        appendf(to, "%6d  %5d  %4d  %3d  %10.2f  %6.1f  %5.1f %%  %15lld  %s\n", run.copies, run.round,
                run.copy, run.cpu, run.score.value_or(0), run.wall_s, run.share * 100.0,
                run.involuntary_switches, vis(flags_of(run)).c_str());
    }
    for (const RoundFigure& round : doc.rounds) {
        if (round.copies < 2) continue;
        columns.row(to, round.host, round.build);
        appendf(to, "%6d  %5d   sum       %10.2f  rate score%s\n", round.copies, round.round, round.rate,
                round.warmup ? " (warm-up)" : "");
    }
    appendf(to, "\n%scopies  runs      median         min         max      cv  scaling  flagged\n",
            vis(columns.head()).c_str());
    for (const SummaryFigure& s : doc.summary) {
        char efficiency[16] = "";
        if (s.efficiency) std::snprintf(efficiency, sizeof efficiency, "%5.1f %%", *s.efficiency * 100);
        bool validated = false;
        for (const Build& build : doc.builds) validated = validated || (build.id == s.build && build.validated);
        columns.row(to, s.host, s.build);
        appendf(to, "%6d  %4zu  %10.2f  %10.2f  %10.2f  %4.1f %%  %7s  %7d%s\n", s.copies, s.rounds, s.median,
                s.min, s.max, s.cv * 100.0, efficiency, s.flagged, validated ? "" : "  unvalidated");
    }
}

// A side of a comparison: its build, and its host where the entries span several.
std::string side_name(const std::string& host, const std::string& build, bool hosts) {
    return hosts ? host + "/" + build : build;
}

std::string optional_figure(const char* format, const std::optional<double>& value) {
    if (!value) return "-";
    char text[32];
    std::snprintf(text, sizeof text, format, *value);
    return text;
}

// Which modules carry the difference: each one's milliseconds per unit on
// either side, B's time over A's by the score's test with the coverage its
// interval has, the verdict, and its share of the difference; with counters,
// whether B runs more instructions or the same ones more slowly.
void module_lines(std::string& to, const ComparisonEntry& entry, const std::string& a, const std::string& b) {
    appendf(to, "\n%s against %s by module, %s: milliseconds per work unit (medians of the rounds), B's time over "
                "A's\n(estimate and interval; above 1: B takes longer), the coverage the interval has, p and the "
                "test, the verdict (at %d %% or more), the module's share of the difference\n",
            vis(b).c_str(), vis(a).c_str(), copies_text(entry.copies).c_str(), kConfidencePercent);
    const bool counted = std::any_of(entry.modules.begin(), entry.modules.end(),
                                     [](const ModuleComparison& m) { return m.instructions_a.has_value(); });
    appendf(to, "module         ms a      ms b  estimate  interval            coverage         p  test         %-26s  "
                "share%s\n",
            "verdict", counted ? "     instr a     instr b  cpi a  cpi b" : "");
    for (const ModuleComparison& m : entry.modules) {
        const SampleComparison& c = m.figures;
        appendf(to, "%-9s  %8.4f  %8.4f  %8s  %-18s  %7s  %8s  %-11s  %-26s  %7s", kModuleNames[m.module],
                c.median_a, c.median_b, ratio_text(c.estimate).c_str(), interval_text(c).c_str(),
                coverage_text(c).c_str(), p_text(c.p_value).c_str(), test_text(c), module_verdict_words(c).c_str(),
                (m.share ? optional_figure("%.1f", *m.share * 100) + " %" : std::string("-")).c_str());
        if (counted) {
            appendf(to, "  %10s  %10s  %5s  %5s", optional_figure("%.0f", m.instructions_a).c_str(),
                    optional_figure("%.0f", m.instructions_b).c_str(), optional_figure("%.2f", m.cpi_a).c_str(),
                    optional_figure("%.2f", m.cpi_b).c_str());
        }
        appendf(to, "\n");
    }
}

// Where each build's unit goes, per host and copy count.
void module_summary_lines(std::string& to, const Document& doc) {
    bool said = false;
    for (const SummaryFigure& s : doc.summary) {
        if (!s.module_ms) continue;
        if (!said) {
            appendf(to, "\nmilliseconds per work unit by module (median of the profiled rounds)\n%-10s build  copies",
                    doc.hosts.size() > 1 ? "host" : "");
            for (const char* module : kModuleNames) appendf(to, "  %9s", module);
            appendf(to, "        sum\n");
            said = true;
        }
        appendf(to, "%-10s %5s  %6d", doc.hosts.size() > 1 ? vis(s.host).c_str() : "", vis(s.build).c_str(), s.copies);
        double sum = 0;
        for (double ms : *s.module_ms) {
            appendf(to, "  %9.4f", ms);
            sum += ms;
        }
        appendf(to, "  %9.4f\n", sum);
    }
}

void comparison_lines(std::string& to, const std::vector<ComparisonEntry>& entries) {
    std::set<std::string> hosts;
    for (const ComparisonEntry& entry : entries) hosts.insert({entry.host, entry.b_host});
    std::set<std::pair<std::string, std::string>> said;
    for (const ComparisonEntry& entry : entries) {
        const std::string a = side_name(entry.host, entry.a, hosts.size() > 1);
        const std::string b = side_name(entry.b_host, entry.b, hosts.size() > 1);
        if (!said.emplace(a, b).second) continue;
        for (const Difference& d : entry.differences) {
            appendf(to, "!! %s and %s differ in %s:\n!!   %-4s %s\n!!   %-4s %s\n", vis(a).c_str(), vis(b).c_str(),
                    vis(d.what).c_str(), vis(a).c_str(), vis(d.a).c_str(), vis(b).c_str(), vis(d.b).c_str());
        }
    }
    appendf(to, "\nB against A: the estimate with its interval and the coverage it has, the ratio of medians, the "
                "two-sided test\n(signed-rank over the pairs of interleaved rounds, else rank-sum); flagged: rounds "
                "with a flagged run, A/B\n");
    appendf(to, "a     b     copies     runs  flagged    median a    median b  medians  estimate  interval          "
                "  coverage         p  test         verdict\n");
    bool too_few = false;
    for (const ComparisonEntry& entry : entries) {
        const SampleComparison& c = entry.figures;
        too_few = too_few || !c.decidable;
        const std::string runs = std::to_string(c.n_a) + "/" + std::to_string(c.n_b);
        const std::string flagged = std::to_string(entry.flagged_a) + "/" + std::to_string(entry.flagged_b);
        appendf(to, "%-4s  %-4s  %6d  %7s  %7s  %10.2f  %10.2f  %7.4f  %8s  %-18s  %7s  %8s  %-11s  %s\n",
                vis(side_name(entry.host, entry.a, hosts.size() > 1)).c_str(),
                vis(side_name(entry.b_host, entry.b, hosts.size() > 1)).c_str(), entry.copies, runs.c_str(),
                flagged.c_str(), c.median_a, c.median_b, c.ratio, ratio_text(c.estimate).c_str(),
                interval_text(c).c_str(), coverage_text(c).c_str(), p_text(c.p_value).c_str(), test_text(c),
                verdict_words(c).c_str());
    }
    for (const ComparisonEntry& entry : entries) {
        if (entry.modules.empty()) continue;
        module_lines(to, entry, side_name(entry.host, entry.a, hosts.size() > 1),
                     side_name(entry.b_host, entry.b, hosts.size() > 1));
    }
    // A verdict of no difference says what the rounds could have seen; the others say it here.
    for (const ComparisonEntry& entry : entries) {
        const SampleComparison& c = entry.figures;
        if (!c.detectable_slowdown || c.verdict == Verdict::no_difference) continue;
        appendf(to, "%s against %s, %s: %s\n", vis(side_name(entry.b_host, entry.b, hosts.size() > 1)).c_str(),
                vis(side_name(entry.host, entry.a, hosts.size() > 1)).c_str(), copies_text(entry.copies).c_str(),
                detectable_text(c).c_str());
    }
    if (too_few) {
        appendf(to, "too few runs to decide: no outcome of so few runs reaches p <= %g (%d rounds of each "
                    "are the fewest that can)\n", kAlpha, kFewestDecidable);
    }
}

}  // namespace

// The builds compared, what differs between them, and B against A.
std::string comparison_terminal(const Comparison& comparison) {
    std::string to;
    for (const ComparedBuild& build : comparison.builds) {
        appendf(to, "%-4s %s: build %s on %s\n     %s\n     sha256 %s\n", vis(build.role).c_str(),
                vis(build.file).c_str(), vis(build.id).c_str(), vis(build.host).c_str(), vis(build.line).c_str(),
                vis(build.sha256).c_str());
    }
    comparison_lines(to, comparison.entries);
    if (comparison.exclude_flagged) appendf(to, "rounds with a flagged run left out (--exclude-flagged)\n");
    return to;
}

std::string terminal_table(const Document& doc) {
    std::string to;
    const bool several = doc.builds.size() > 1;
    for (const Build& build : doc.builds) {
        const std::string prefix = several ? build.id + " " : "";
        appendf(to, "%-14s%s\n", vis(prefix + "pt").c_str(), vis(build.path).c_str());
        appendf(to, "%-14s%s\n", vis(prefix + "sha256").c_str(), vis(build.sha256).c_str());
        appendf(to, "%-14s%s\n", vis(prefix + "build").c_str(), vis(build.line).c_str());
        appendf(to, "%-14s%s: %s\n", vis(prefix + "validated").c_str(), build.validated ? "yes" : "NO",
                vis(build.validation).c_str());
    }
    for (const Host& host : doc.hosts) {
        if (doc.hosts.size() > 1) appendf(to, "host          %s\n", vis(host.id).c_str());
        machine_lines(to, host);
    }
    run_lines(to, doc, columns_of(doc));
    module_summary_lines(to, doc);
    if (!doc.comparisons.empty()) {
        appendf(to, "\n");
        comparison_lines(to, doc.comparisons);
    }
    if (doc.hosts.size() > 1 && !doc.standings.empty()) {
        appendf(to, "\nstanding among the hosts of the same processor and build line:\n");
        for (const HostStanding& s : doc.standings) {
            appendf(to, "  %-16s %-4s %-10s median %10.2f  percentile %3.0f of %zu  %.3f of their median%s\n",
                    vis(s.host).c_str(), vis(s.build).c_str(), vis(copies_text(s.copies)).c_str(), s.median,
                    s.percentile, s.group_size, s.ratio_to_group_median, s.outlier ? "  SLOW FOR ITS KIND" : "");
        }
    }
    bool said = false;
    for (const RunRecord& run : doc.runs) {
        for (const std::string& message : run.pt_messages) {
            if (!said) appendf(to, "\npt said:\n");
            said = true;
            const std::string build = several ? "build " + run.build + ", " : "";
            appendf(to, "  %scopies %d, round %d, copy %d: %s\n", vis(build).c_str(), run.copies, run.round, run.copy,
                    vis(message).c_str());
        }
    }
    if (doc.flagged_runs > 0) {
        appendf(to,
                "\n%d of %zu runs flagged (processor share below 95 %% or a change of speed): the machine was "
                "not quiet. Re-run on a quiet machine.\n",
                doc.flagged_runs, doc.runs.size());
    }
    const std::string reasons = joined(doc.reportable_reasons, "; ");
    appendf(to, "\nreportable    %s\n", reasons.empty() ? "yes" : vis("no: " + reasons).c_str());
    if (doc.citation) appendf(to, "citation      %s\n", vis(*doc.citation).c_str());
    return to;
}

}  // namespace ptrun
