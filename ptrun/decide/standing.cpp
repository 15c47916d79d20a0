#include "decide/standing.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <stdexcept>
#include <tuple>
#include <map>
#include <optional>
#include <string_view>
#include <unordered_map>

#include "decide/rounds.h"
#include "decide/stats.h"

namespace ptrun {

namespace {

// The median of values sorted ascending.
double sorted_median(const std::vector<double>& sorted) {
    const std::size_t n = sorted.size();
    return n % 2 == 1 ? sorted[n / 2] : sorted[n / 2 - 1] + (sorted[n / 2] - sorted[n / 2 - 1]) / 2;
}

// The spread of the values about their median: the root mean square of the
// distances within 3 median absolute deviations (1.4826 times), with the
// normal distribution's share of the square there (0.9733) put back. Nearly
// as precise as the standard deviation, where the median absolute deviation
// alone is not, and as blind to the slow hosts it is to judge.
double spread_about(const std::vector<double>& values, double centre) {
    std::vector<double> deviations;
    for (double m : values) deviations.push_back(std::fabs(m - centre));
    std::sort(deviations.begin(), deviations.end());
    const double bound = 3 * 1.4826 * sorted_median(deviations);
    double sum = 0, kept = 0;
    for (double d : deviations) {
        if (d <= bound) sum += d * d, kept += 1;
    }
    return kept > 1 ? std::sqrt(sum / (kept - 1) / 0.9733) : 0;
}

// The standings of one group, whose figures' indices are `members`, ascending by median.
void stand_group(const std::vector<HostFigure>& figures, const std::vector<std::size_t>& members,
                 const StandingSettings& settings, std::vector<Standing>& out) {
    std::vector<std::string_view> hosts;
    for (std::size_t i : members) hosts.push_back(figures[i].host);
    std::sort(hosts.begin(), hosts.end());
    if (const auto twice = std::adjacent_find(hosts.begin(), hosts.end()); twice != hosts.end()) {
        throw std::invalid_argument("host " + std::string(*twice) +
                                    " twice in one group: a host is never compared with itself");
    }
    std::vector<double> medians;
    for (std::size_t i : members) medians.push_back(figures[i].median);
    const double centre = sorted_median(medians);
    const double robust_spread = spread_about(medians, centre);
    const double n = static_cast<double>(members.size());
    const double bound = slow_bound(members.size());
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
            s.outlier = members.size() >= settings.min_group && centre - medians[k] > bound * robust_spread &&
                        s.ratio_to_group_median < 1 - settings.min_shortfall;
        }
        i = j;
    }
}

}  // namespace

double slow_bound(std::size_t n) {
    // Below 20 hosts the widening follows no simple rule (the spread of 3
    // hosts hangs on which of them counts): the bound the slowest of n equal
    // normal hosts passes 5 times in 100, simulated.
    constexpr double kSmall[] = {0,   0,   0,   16.2, 5.7, 8.2, 5.2, 5.1, 4.3, 4.1,
                                 3.8, 3.8, 3.6, 3.6,  3.5, 3.5, 3.4, 3.4, 3.3, 3.4};
    if (n < std::size(kSmall)) return kSmall[n];
    const double d = static_cast<double>(n);
    return normal_quantile_above(0.05 / d) * (1 + 3.8 / d);
}

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

std::string host_name(const Host& host) {
    if (host.label) return *host.label;
    if (!host.hostname.empty() && host.hostname != "unknown") return host.hostname;
    if (host.machine && !host.machine->hostname.empty()) return host.machine->hostname;
    return host.id;
}

std::string machine_key(const Host& host) {
    if (host.label) return "label\n" + *host.label;
    return "host\n" + host_name(host) + '\n' + (host.machine ? host.machine->processor : "");
}

void add_standings(Document& doc) {
    std::unordered_map<std::string, const Host*> hosts;
    std::unordered_map<std::string, std::string> line;
    for (const Host& host : doc.hosts) hosts[host.id] = &host;
    for (const Build& build : doc.builds) line[build.id] = build.line;
    // Per kind, copy count and machine: its entries' medians.
    using Key = std::tuple<std::string, int, std::string>;
    std::map<Key, std::vector<double>> medians;
    std::vector<std::optional<Key>> key_of(doc.summary.size());
    for (std::size_t i = 0; i < doc.summary.size(); ++i) {
        const SummaryFigure& s = doc.summary[i];
        const auto host = hosts.find(s.host);
        if (s.rounds == 0 || !(s.median > 0) || host == hosts.end()) continue;
        const Host& h = *host->second;
        key_of[i] = Key{(h.machine ? h.machine->processor : "") + '\n' + line[s.build], s.copies, machine_key(h)};
        medians[*key_of[i]].push_back(s.median);
    }
    std::vector<HostFigure> figures;
    std::map<Key, std::size_t> figure_of;
    for (auto& [key, values] : medians) {
        figure_of[key] = figures.size();
        figures.push_back({std::get<0>(key), std::get<2>(key), static_cast<std::size_t>(std::get<1>(key)),
                           median_of(std::move(values))});
    }
    const std::vector<Standing> found = find_standings(figures);
    doc.standings.clear();
    for (std::size_t i = 0; i < doc.summary.size(); ++i) {
        if (!key_of[i]) continue;
        const SummaryFigure& e = doc.summary[i];
        const Standing& s = found[figure_of[*key_of[i]]];
        doc.standings.push_back({e.host, e.build, e.copies, s.group_size, e.median, s.percentile,
                                 s.ratio_to_group_median, s.outlier});
    }
}

}  // namespace ptrun
