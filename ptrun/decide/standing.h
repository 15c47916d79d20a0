// Where a host stands among the hosts of its kind (the same processor and
// build line), at each copy count: pure, on plain figures.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "model/document.h"

namespace ptrun {

struct HostFigure {
    std::string group;  // the kind: hosts compare only within the same group
    std::string host;
    std::size_t copies = 1;
    double median = 0;  // the host's median rate score at this copy count, higher being better
};

struct StandingSettings {
    // Slow for its kind: below the group's median by more than slow_bound
    // of the group's spreads (the root mean square of the distances from the
    // median within 3 median absolute deviations: the standard deviation
    // where scores are normal, blind to the slow hosts themselves) ...
    // ... and by more than this fraction, so that a tight group does not
    // flag a host a hair below it.
    double min_shortfall = 0.03;
    // Fewer hosts than this make no group to stand out of.
    std::size_t min_group = 3;
};

// How many spreads below the median a host of a group of n must
// lie to be slow for its kind: the slowest of n equal hosts lies further
// only 5 times in 100, whatever n (the normal quantile at 0.05 / n, widened
// for the spread's own uncertainty, which small groups have more of), so
// that a fleet of equal hosts marks none 95 times in 100.
double slow_bound(std::size_t n);

struct Standing {
    std::size_t copies = 1;
    std::size_t group_size = 0;
    double percentile = 50;             // 0 to 100, by midrank: 100 (r - 0.5) / group_size
    double ratio_to_group_median = 1;   // the host's median over the group's
    bool outlier = false;               // slow for its kind
};

// One standing per figure, in the figures' order; a group is the figures
// with the same group and copy count, each a different host. Time
// O(n log n). Each median must be finite and above 0, and no host may have
// two figures of one group and copy count: std::invalid_argument otherwise.
std::vector<Standing> find_standings(const std::vector<HostFigure>& figures, const StandingSettings& settings = {});

// Which machine a host entry is: its label where one was given, which keeps
// a machine one across reinstalls and renames; else its hostname and its
// processor, so that two machines of one name and of different processors
// stay two. Memory, processors online and kernel are not part of it: a
// machine that lost memory or turned SMT off is the same machine, changed.
std::string machine_key(const Host& host);
// The name a host is shown by: its label, else its hostname; files from
// before hosts were named give the machine's name, else the id made for it.
std::string host_name(const Host& host);

// The document's standings, one per entry of its summary: a host's kind is
// its processor and the build's line. Hosts are machines (machine_key):
// the entries of one machine in a group (two builds of one line, a host
// merged from calls under two kernels) stand as one, at the median of
// their medians, and are never compared with each other.
void add_standings(Document& document);

}  // namespace ptrun
