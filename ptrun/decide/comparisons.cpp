#include "decide/comparisons.h"

#include <algorithm>
#include <map>
#include <set>

#include "decide/power.h"
#include "decide/rounds.h"

namespace ptrun {

namespace {

// The governors of the pinned processors where recorded, else the one the
// machine was described with.
std::string governor_of(const Machine& machine) {
    std::set<std::string> seen;
    std::string governors;
    for (const CpuState& cpu : machine.environment.now.cpus) {
        if (!cpu.governor || cpu.governor->empty() || !seen.insert(*cpu.governor).second) continue;
        governors += (governors.empty() ? "" : ",") + *cpu.governor;
    }
    return governors.empty() ? machine.governor : governors;
}

struct Said {
    std::string processor, governor, smt, microcode, kernel, boost, hypervisor, memory, online, emulator,
        vulnerabilities;
};

Said said_of(const Host& host) {
    if (!host.machine) return {};
    const Machine& m = *host.machine;
    const Environment& e = m.environment;
    std::string vulnerabilities;
    for (const auto& [name, state] : e.vulnerabilities) {
        vulnerabilities += (vulnerabilities.empty() ? "" : ", ") + name + ": " + state;
    }
    return {m.processor,
            governor_of(m),
            e.smt.value_or(""),
            e.microcode.value_or(""),
            m.kernel,
            e.boost.value_or(""),
            e.hypervisor.value_or(""),
            m.memory_bytes == 0 ? "" : std::to_string(m.memory_bytes >> 20) + " MiB",
            m.online <= 0 ? "" : std::to_string(m.online),
            m.emulator,
            vulnerabilities};
}

// A round's place in its call: A's and B's round of the same place ran one
// after the other.
struct Place {
    std::string_view call;
    int round = 0;
    auto operator<=>(const Place&) const = default;
};

// Rate scores of one side per copy count, and how many of its rounds were
// flagged.
struct Sample {
    std::vector<double> rates;
    std::vector<Place> places;  // of the rates
    int flagged = 0;
    // Of the rounds that were profiled; instructions and cycles of those
    // that counted both.
    std::vector<ModuleFigures> ms, instructions, cycles;
    std::vector<Place> ms_places;
};

std::map<int, Sample> samples_of(const SideChoice& side, bool exclude_flagged) {
    std::map<int, Sample> samples;
    std::vector<const RoundFigure*> all;
    if (side.rounds == nullptr) {
        for (const RoundFigure& round : side.document->rounds) all.push_back(&round);
    }
    for (const RoundFigure* at : side.rounds != nullptr ? *side.rounds : all) {
        const RoundFigure& round = *at;
        if (round.warmup || round.host != side.host || round.build != side.build) continue;
        if (!side.call_id.empty() && round.call != side.call_id) continue;
        if ((round.flagged && exclude_flagged) || (side.copies != 0 && round.copies != side.copies)) continue;
        Sample& sample = samples[round.copies];
        sample.rates.push_back(round.rate);
        sample.places.push_back({round.call, round.round});
        sample.flagged += round.flagged ? 1 : 0;
        if (round.module_ms) {
            sample.ms.push_back(*round.module_ms);
            sample.ms_places.push_back({round.call, round.round});
        }
        if (round.module_ms && round.instructions && round.cycles) {
            sample.instructions.push_back(*round.instructions);
            sample.cycles.push_back(*round.cycles);
        }
    }
    return samples;
}

template <typename Item>
const Item* by_id(const std::vector<Item>& items, const std::string& id) {
    const auto it = std::find_if(items.begin(), items.end(), [&id](const Item& item) { return item.id == id; });
    return it == items.end() ? nullptr : &*it;
}

std::vector<double> column(const std::vector<ModuleFigures>& rows, std::size_t module) {
    std::vector<double> values;
    for (const ModuleFigures& row : rows) values.push_back(row[module]);
    return values;
}

// The median cycles per instruction of a side's rounds in one module.
std::optional<double> cpi_of(const Sample& side, std::size_t module) {
    std::vector<double> cpi;
    for (std::size_t r = 0; r < side.instructions.size(); ++r) {
        if (side.instructions[r][module] > 0) cpi.push_back(side.cycles[r][module] / side.instructions[r][module]);
    }
    return cpi.empty() ? std::nullopt : std::optional<double>(median_of(cpi));
}

// The values of A and B in pairs, in the order of A's, where every value of
// either side has its partner of the same place and there are pairs enough
// for the paired test to decide; nothing otherwise.
std::optional<std::pair<std::vector<double>, std::vector<double>>> paired(
    const std::vector<Place>& places_a, const std::vector<double>& a, const std::vector<Place>& places_b,
    const std::vector<double>& b) {
    if (a.size() != b.size() || a.size() < static_cast<std::size_t>(kFewestPairs)) return std::nullopt;
    std::map<Place, std::size_t> of_b;
    for (std::size_t i = 0; i < b.size(); ++i) of_b.emplace(places_b[i], i);
    std::pair<std::vector<double>, std::vector<double>> pairs;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto partner = of_b.find(places_a[i]);
        if (partner == of_b.end()) return std::nullopt;
        pairs.first.push_back(a[i]);
        pairs.second.push_back(b[partner->second]);
        of_b.erase(partner);
    }
    return pairs;
}

// B against A by the paired test where the values pair up (interleaved
// rounds), else by the rank-sum test; with the slowdown it could have seen
// where asked.
SampleComparison compare_values(const std::vector<Place>* places_a, const std::vector<double>& a,
                                const std::vector<Place>* places_b, const std::vector<double>& b, double alpha,
                                bool detectable) {
    const auto pairs = places_a != nullptr ? paired(*places_a, a, *places_b, b) : std::nullopt;
    SampleComparison c = pairs ? compare_pairs(pairs->first, pairs->second, alpha) : compare_samples(a, b, alpha);
    if (detectable) {
        c.detectable_slowdown = pairs ? detectable_paired_slowdown(pairs->first, pairs->second, alpha)
                                      : detectable_slowdown(a, b, alpha);
    }
    return c;
}

// Each module of B against A by the same test and estimate as the score,
// where both sides have profiled rounds with a time in every module.
std::vector<ModuleComparison> compare_modules(const Sample& a, const Sample& b, bool interleaved, double alpha) {
    std::vector<ModuleComparison> modules;
    const auto timed = [](const std::vector<ModuleFigures>& rows) {
        return !rows.empty() && std::all_of(rows.begin(), rows.end(), [](const ModuleFigures& row) {
            return std::all_of(row.begin(), row.end(), [](double ms) { return ms > 0; });
        });
    };
    if (!timed(a.ms) || !timed(b.ms)) return modules;
    double whole = 0;
    for (std::size_t m = 0; m < kModuleCount; ++m) {
        ModuleComparison c;
        c.module = m;
        c.figures = compare_values(interleaved ? &a.ms_places : nullptr, column(a.ms, m),
                                   interleaved ? &b.ms_places : nullptr, column(b.ms, m), alpha, false);
        whole += c.figures.median_b - c.figures.median_a;
        if (!a.instructions.empty() && !b.instructions.empty()) {
            c.instructions_a = median_of(column(a.instructions, m));
            c.instructions_b = median_of(column(b.instructions, m));
            c.cpi_a = cpi_of(a, m);
            c.cpi_b = cpi_of(b, m);
        }
        modules.push_back(c);
    }
    for (ModuleComparison& c : modules) {
        if (whole != 0) c.share = (c.figures.median_b - c.figures.median_a) / whole;
    }
    return modules;
}

}  // namespace

std::vector<Difference> differences(const Build& build_a, const Host& host_a, const Build& build_b,
                                    const Host& host_b) {
    const Said a = said_of(host_a), b = said_of(host_b);
    const std::vector<std::pair<const char*, std::pair<std::string, std::string>>> fields = {
        {"build line", {build_a.line, build_b.line}},     {"binary sha256", {build_a.sha256, build_b.sha256}},
        {"processor", {a.processor, b.processor}},        {"governor", {a.governor, b.governor}},
        {"SMT", {a.smt, b.smt}},                          {"microcode", {a.microcode, b.microcode}},
        {"kernel", {a.kernel, b.kernel}},                 {"boost", {a.boost, b.boost}},
        {"hypervisor", {a.hypervisor, b.hypervisor}},     {"memory", {a.memory, b.memory}},
        {"processors online", {a.online, b.online}},      {"emulator", {a.emulator, b.emulator}},
        {"vulnerabilities", {a.vulnerabilities, b.vulnerabilities}},
    };
    std::vector<Difference> found;
    for (const auto& [what, values] : fields) {
        const auto& [x, y] = values;
        const auto unknown = [](const std::string& v) { return v.empty() || v == "unknown"; };
        if (x == y || (unknown(x) && unknown(y))) continue;
        found.push_back({what, unknown(x) ? "unknown" : x, unknown(y) ? "unknown" : y});
    }
    return found;
}

std::vector<ComparisonEntry> compare_sides(const SideChoice& a, const SideChoice& b, bool exclude_flagged,
                                           double alpha) {
    std::vector<ComparisonEntry> entries;
    const Build* build_a = by_id(a.document->builds, a.build);
    const Build* build_b = by_id(b.document->builds, b.build);
    const Host* host_a = by_id(a.document->hosts, a.host);
    const Host* host_b = by_id(b.document->hosts, b.host);
    if (build_a == nullptr || build_b == nullptr || host_a == nullptr || host_b == nullptr) return entries;
    const std::vector<Difference> found = differences(*build_a, *host_a, *build_b, *host_b);
    const std::map<int, Sample> samples_b = samples_of(b, exclude_flagged);
    // Builds of one host in one document: where they ran in the same calls,
    // their rounds were interleaved.
    const bool interleaved = a.document == b.document && a.host == b.host && a.build != b.build;
    for (const auto& [copies, sample_a] : samples_of(a, exclude_flagged)) {
        const auto sample_b = samples_b.find(copies);
        if (sample_b == samples_b.end()) continue;
        ComparisonEntry entry;
        entry.call_id = a.call_id;
        entry.host = a.host;
        entry.b_host = b.host;
        entry.copies = copies;
        entry.a = a.build;
        entry.b = b.build;
        const Sample& sb = sample_b->second;
        entry.figures = compare_values(interleaved ? &sample_a.places : nullptr, sample_a.rates,
                                       interleaved ? &sb.places : nullptr, sb.rates, alpha, true);
        entry.flagged_a = sample_a.flagged;
        entry.flagged_b = sample_b->second.flagged;
        entry.differences = found;
        entry.modules = compare_modules(sample_a, sb, interleaved, alpha);
        entries.push_back(std::move(entry));
    }
    return entries;
}

}  // namespace ptrun
