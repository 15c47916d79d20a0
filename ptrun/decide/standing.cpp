#include "decide/standing.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <stdexcept>
#include <tuple>
#include <unordered_map>

namespace ptrun {

namespace {

// The median of values sorted ascending.
double sorted_median(const std::vector<double>& sorted) {
    const std::size_t n = sorted.size();
    return n % 2 == 1 ? sorted[n / 2] : sorted[n / 2 - 1] + (sorted[n / 2] - sorted[n / 2 - 1]) / 2;
}

// The standings of one group, whose figures' indices are `members`, ascending by median.
void stand_group(const std::vector<HostFigure>& figures, const std::vector<std::size_t>& members,
                 const StandingSettings& settings, std::vector<Standing>& out) {
    std::vector<double> medians;
    for (std::size_t i : members) medians.push_back(figures[i].median);
    const double centre = sorted_median(medians);
    std::vector<double> deviations;
    for (double m : medians) deviations.push_back(std::fabs(m - centre));
    std::sort(deviations.begin(), deviations.end());
    const double robust_spread = 1.4826 * sorted_median(deviations);
    const double n = static_cast<double>(members.size());
    for (std::size_t i = 0; i < members.size();) {
        std::size_t j = i;
        while (j < members.size() && medians[j] == medians[i]) ++j;
        const double midrank = static_cast<double>(i + j + 1) / 2;
        for (std::size_t k = i; k < j; ++k) {
            Standing& s = out[members[k]];
            s.copies = figures[members[k]].copies;
            s.group_size = members.size();
            s.percentile = 100 * (midrank - 0.5) / n;
            s.ratio_to_group_median = medians[k] / centre;
            s.outlier = members.size() >= settings.min_group &&
                        centre - medians[k] > settings.robust_deviations * robust_spread &&
                        s.ratio_to_group_median < 1 - settings.min_shortfall;
        }
        i = j;
    }
}

}  // namespace

std::vector<Standing> find_standings(const std::vector<HostFigure>& figures, const StandingSettings& settings) {
    for (const HostFigure& f : figures) {
        if (!std::isfinite(f.median) || f.median <= 0) {
            throw std::invalid_argument("host " + f.host + ": a median score that is not a number above 0");
        }
    }
    std::vector<std::size_t> order(figures.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    const auto key = [&](std::size_t i) { return std::tie(figures[i].group, figures[i].copies, figures[i].median); };
    std::sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) { return key(x) < key(y); });
    std::vector<Standing> standings(figures.size());
    std::vector<std::size_t> members;
    for (std::size_t i = 0; i < order.size(); ++i) {
        members.push_back(order[i]);
        const bool last = i + 1 == order.size() || figures[order[i + 1]].group != figures[order[i]].group ||
                          figures[order[i + 1]].copies != figures[order[i]].copies;
        if (!last) continue;
        stand_group(figures, members, settings, standings);
        members.clear();
    }
    return standings;
}

void add_standings(Document& doc) {
    std::unordered_map<std::string, std::string> processor, line;
    for (const Host& host : doc.hosts) processor[host.id] = host.machine ? host.machine->processor : "";
    for (const Build& build : doc.builds) line[build.id] = build.line;
    std::vector<HostFigure> figures;
    std::vector<const SummaryFigure*> of;
    for (const SummaryFigure& s : doc.summary) {
        if (s.rounds == 0 || !(s.median > 0)) continue;
        figures.push_back({processor[s.host] + '\n' + line[s.build], s.host, static_cast<std::size_t>(s.copies),
                           s.median});
        of.push_back(&s);
    }
    const std::vector<Standing> found = find_standings(figures);
    doc.standings.clear();
    for (std::size_t i = 0; i < found.size(); ++i) {
        const Standing& s = found[i];
        doc.standings.push_back({of[i]->host, of[i]->build, of[i]->copies, s.group_size, of[i]->median, s.percentile,
                                 s.ratio_to_group_median, s.outlier});
    }
}

}  // namespace ptrun
