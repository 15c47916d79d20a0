#include "table.h"

#include <cmath>
#include <string>

namespace ptrun {

namespace {

std::string flags_of(const Json& run) {
    std::string flags = run.value("low_share", false) ? "share" : "";
    if (run.value("speed_changed", false)) flags += flags.empty() ? "speed" : ",speed";
    if (run.value("warmup", false)) flags += flags.empty() ? "warm-up" : ",warm-up";
    return flags;
}

double number_or(const Json& value, double otherwise) { return value.is_number() ? value.get<double>() : otherwise; }

std::string verdict_words(const Json& entry) {
    const std::string verdict = entry.value("verdict", "");
    const double ratio = number_or(entry["ratio"], 1);
    char text[64];
    if (verdict == "faster" || verdict == "slower") {
        std::snprintf(text, sizeof text, "%s by %.1f %%", verdict.c_str(), std::fabs(ratio - 1) * 100);
        return text;
    }
    return verdict;
}

}  // namespace

void print_comparison(std::FILE* to, const Json& entries) {
    std::string said;
    for (const Json& entry : entries) {
        const std::string a = entry.value("a", ""), b = entry.value("b", "");
        const std::string pair = a + "\n" + b + "\n";
        if (said.find(pair) != std::string::npos) continue;
        said += pair;
        for (const Json& d : entry["differences"]) {
            std::fprintf(to, "!! %s and %s differ in %s:\n!!   %-4s %s\n!!   %-4s %s\n", a.c_str(), b.c_str(),
                         d.value("what", "").c_str(), a.c_str(), d.value("a", "").c_str(), b.c_str(),
                         d.value("b", "").c_str());
        }
    }
    std::fprintf(to, "\nB against A: the ratio of medians, its interval with the coverage it has, the two-sided "
                     "rank-sum test\n");
    std::fprintf(to, "a     b     copies     runs    median a    median b   ratio  interval       coverage       p  "
                     "verdict\n");
    bool too_few = false;
    for (const Json& entry : entries) {
        too_few = too_few || !entry.value("decidable", false);
        const std::string runs = std::to_string(entry.value("n_a", 0)) + "/" + std::to_string(entry.value("n_b", 0));
        std::fprintf(to, "%-4s  %-4s  %6d  %7s  %10.2f  %10.2f  %6.4f  %6.4f-%6.4f  %6.1f %%  %6.4f  %s\n",
                     entry.value("a", "").c_str(), entry.value("b", "").c_str(), entry.value("copies", 0), runs.c_str(),
                     number_or(entry["median_a"], 0), number_or(entry["median_b"], 0), number_or(entry["ratio"], 0),
                     number_or(entry["ratio_low"], 0), number_or(entry["ratio_high"], 0),
                     number_or(entry["confidence"], 0) * 100, number_or(entry["p_value"], 1),
                     verdict_words(entry).c_str());
    }
    if (too_few) {
        std::fprintf(to, "too few runs to decide: no outcome of so few runs reaches p <= 0.05 (4 rounds of each "
                         "are the fewest that can)\n");
    }
}

void print_table(std::FILE* to, const Json& doc) {
    const Json& machine = doc["machine"];
    const bool several = doc["builds"].size() > 1;
    for (const Json& build : doc["builds"]) {
        const std::string prefix = several ? build.value("id", "") + " " : "";
        std::fprintf(to, "%-14s%s\n", (prefix + "pt").c_str(), build.value("path", "").c_str());
        std::fprintf(to, "%-14s%s\n", (prefix + "sha256").c_str(), build.value("sha256", "").c_str());
        std::fprintf(to, "%-14s%s\n", (prefix + "build").c_str(), build.value("build", "").c_str());
    }
    std::fprintf(to, "processor     %s, %ld online\n", machine.value("processor", "").c_str(),
                 machine.value("processors_online", 0L));
    std::fprintf(to, "kernel        %s\n", machine.value("kernel", "").c_str());
    std::fprintf(to, "memory        %.1f GiB\n",
                 static_cast<double>(machine.value("memory_bytes", 0ULL)) / (1024.0 * 1024 * 1024));
    std::fprintf(to, "governor      %s\n", machine.value("governor", "").c_str());
    const Json& load = machine["load_average"];
    std::fprintf(to, "load average  %.2f %.2f %.2f before the first run\n\n", number_or(load[0], -1),
                 number_or(load[1], -1), number_or(load[2], -1));

    const char* build_head = several ? "build  " : "";
    std::fprintf(to, "%scopies  round  copy  cpu       score  wall s   share  invol. switches  flags\n", build_head);
    for (const Json& run : doc["runs"]) {
        if (several) std::fprintf(to, "%5s  ", run.value("build", "").c_str());
        std::fprintf(to, "%6d  %5d  %4d  %3d  %10.2f  %6.1f  %5.1f %%  %15ld  %s\n", run["copies"].get<int>(),
                     run["round"].get<int>(), run["copy"].get<int>(), run.value("cpu", 0),
                     number_or(run["score"], 0), number_or(run["wall_s"], 0), number_or(run["share"], 0) * 100.0,
                     run.value("involuntary_switches", 0L), flags_of(run).c_str());
    }
    for (const Json& round : doc["rounds"]) {
        if (round["copies"].get<int>() < 2) continue;
        if (several) std::fprintf(to, "%5s  ", round.value("build", "").c_str());
        std::fprintf(to, "%6d  %5d   sum       %10.2f  rate score%s\n", round["copies"].get<int>(),
                     round["round"].get<int>(), round["rate_score"].get<double>(),
                     round.value("warmup", false) ? " (warm-up)" : "");
    }

    std::fprintf(to, "\n%scopies  runs      median         min         max      cv  scaling  flagged\n", build_head);
    for (const Json& summary : doc["summary"]) {
        char efficiency[16] = "";
        if (summary["scaling_efficiency"].is_number()) {
            std::snprintf(efficiency, sizeof efficiency, "%5.1f %%", summary["scaling_efficiency"].get<double>() * 100);
        }
        if (several) std::fprintf(to, "%5s  ", summary.value("build", "").c_str());
        std::fprintf(to, "%6d  %4d  %10.2f  %10.2f  %10.2f  %4.1f %%  %7s  %7d\n", summary["copies"].get<int>(),
                     summary["runs"].get<int>(), summary["median"].get<double>(), summary["min"].get<double>(),
                     summary["max"].get<double>(), summary["cv"].get<double>() * 100.0, efficiency,
                     summary["flagged_runs"].get<int>());
    }

    if (doc.contains("comparison") && !doc["comparison"].empty()) {
        std::fprintf(to, "\n");
        print_comparison(to, doc["comparison"]);
    }

    bool said = false;
    for (const Json& run : doc["runs"]) {
        for (const Json& message : run["pt_messages"]) {
            if (!said) std::fprintf(to, "\npt said:\n");
            said = true;
            const std::string build = several ? "build " + run.value("build", "") + ", " : "";
            std::fprintf(to, "  %scopies %d, round %d, copy %d: %s\n", build.c_str(), run["copies"].get<int>(),
                         run["round"].get<int>(), run["copy"].get<int>(), message.get<std::string>().c_str());
        }
    }
    const int flagged = doc["flagged_runs"].get<int>();
    if (flagged > 0) {
        std::fprintf(to,
                     "\n%d of %zu runs flagged (processor share below 95 %% or a change of speed): the machine was "
                     "not quiet. Re-run on a quiet machine.\n",
                     flagged, doc["runs"].size());
    }
    std::fflush(to);
}

}  // namespace ptrun
