#include "decide/rounds.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>

namespace ptrun {

double median_of(std::vector<double> values) {
    if (values.empty()) return 0;
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    if (values.size() % 2 == 1) return *middle;
    // Halfway without the sum, which overflows for scores near the largest double.
    const double below = *std::max_element(values.begin(), middle);
    return below + (*middle - below) / 2;
}

double cv_of(const std::vector<double>& values) {
    const std::size_t n = values.size();
    if (n < 2) return 0;
    // The spread over the mean does not change with the scale: worked on the
    // values over the largest, whose sums cannot overflow.
    double largest = 0;
    for (double value : values) largest = std::max(largest, std::fabs(value));
    if (largest == 0 || !std::isfinite(largest)) return 0;
    double mean = 0;
    for (double value : values) mean += value / largest;
    mean /= static_cast<double>(n);
    double squares = 0;
    for (double value : values) squares += (value / largest - mean) * (value / largest - mean);
    return mean != 0 ? std::sqrt(squares / static_cast<double>(n - 1)) / mean : 0;
}

namespace {

// Keys of a round and of a summary, for the hash maps that keep both passes
// linear in the runs.
std::string round_key(const RunFigure& run) {
    return run.call + '\n' + run.host + '\n' + run.build + '\n' + std::to_string(run.copies) + '\n' +
           std::to_string(run.round);
}

std::string series_key(const std::string& host, const std::string& build, int copies) {
    return host + '\n' + build + '\n' + std::to_string(copies);
}

}  // namespace

namespace {

// A round's module figure: the sum of its copies' while it has each one's.
struct ModuleSum {
    int copies = 0;
    ModuleFigures sum{};
    void add(const std::optional<ModuleFigures>& figures) {
        if (!figures) return;
        ++copies;
        for (std::size_t m = 0; m < kModuleCount; ++m) sum[m] += (*figures)[m];
    }
    std::optional<ModuleFigures> mean(int of) const {
        if (copies != of) return std::nullopt;
        ModuleFigures mean = sum;
        for (double& figure : mean) figure /= of;
        return mean;
    }
};

struct ModuleSums {
    ModuleSum ms, instructions, cycles;
};

}  // namespace

std::vector<RoundFigure> rounds_of(const std::vector<RunFigure>& runs) {
    std::vector<RoundFigure> rounds;
    std::vector<int> scored;
    std::vector<ModuleSums> modules;
    std::unordered_map<std::string, std::size_t> index;
    for (const RunFigure& run : runs) {
        const auto [it, added] = index.try_emplace(round_key(run), rounds.size());
        if (added) {
            rounds.push_back({run.call, run.host, run.build, run.copies, run.round, run.warmup, false, 0});
            scored.push_back(0);
            modules.emplace_back();
        }
        RoundFigure& round = rounds[it->second];
        round.flagged = round.flagged || run.flagged;
        if (run.score) {
            round.rate += *run.score;
            ++scored[it->second];
            modules[it->second].ms.add(run.module_ms);
            modules[it->second].instructions.add(run.instructions);
            modules[it->second].cycles.add(run.cycles);
        }
    }
    std::vector<RoundFigure> complete;
    for (std::size_t i = 0; i < rounds.size(); ++i) {
        if (scored[i] != rounds[i].copies) continue;
        rounds[i].module_ms = modules[i].ms.mean(rounds[i].copies);
        rounds[i].instructions = modules[i].instructions.mean(rounds[i].copies);
        rounds[i].cycles = modules[i].cycles.mean(rounds[i].copies);
        complete.push_back(std::move(rounds[i]));
    }
    return complete;
}

std::vector<SummaryFigure> summarise(const std::vector<RunFigure>& runs, const std::vector<RoundFigure>& rounds) {
    std::vector<SummaryFigure> summaries;
    std::vector<std::vector<double>> rates;
    std::vector<std::array<std::vector<double>, kModuleCount>> module_ms;
    std::unordered_map<std::string, std::size_t> index;
    for (const RoundFigure& round : rounds) {
        if (round.warmup) continue;
        const auto [it, added] = index.try_emplace(series_key(round.host, round.build, round.copies), summaries.size());
        if (added) {
            SummaryFigure summary;
            summary.host = round.host;
            summary.build = round.build;
            summary.copies = round.copies;
            summaries.push_back(summary);
            rates.emplace_back();
            module_ms.emplace_back();
        }
        rates[it->second].push_back(round.rate);
        for (std::size_t m = 0; round.module_ms && m < kModuleCount; ++m) {
            module_ms[it->second][m].push_back((*round.module_ms)[m]);
        }
    }
    for (std::size_t i = 0; i < summaries.size(); ++i) {
        SummaryFigure& summary = summaries[i];
        summary.rounds = rates[i].size();
        summary.min = *std::min_element(rates[i].begin(), rates[i].end());
        summary.max = *std::max_element(rates[i].begin(), rates[i].end());
        summary.cv = cv_of(rates[i]);
        summary.median = median_of(std::move(rates[i]));
        if (module_ms[i][0].empty()) continue;
        summary.module_ms.emplace();
        for (std::size_t m = 0; m < kModuleCount; ++m) (*summary.module_ms)[m] = median_of(std::move(module_ms[i][m]));
    }
    for (const RunFigure& run : runs) {
        if (run.warmup || !run.flagged) continue;
        const auto it = index.find(series_key(run.host, run.build, run.copies));
        if (it != index.end()) ++summaries[it->second].flagged;
    }
    for (SummaryFigure& summary : summaries) {
        const auto single = index.find(series_key(summary.host, summary.build, 1));
        if (summary.copies > 1 && single != index.end() && summaries[single->second].median > 0) {
            const double efficiency = summary.median / summaries[single->second].median / summary.copies;
            if (std::isfinite(efficiency)) summary.efficiency = efficiency;
        }
    }
    return summaries;
}

}  // namespace ptrun
