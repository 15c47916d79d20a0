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
    // Slow for its kind: below the group's median by more than this many
    // robust deviations (1.4826 times the median absolute deviation, the
    // standard deviation where scores are normal) ...
    double robust_deviations = 3;
    // ... and by more than this fraction, so that a tight group does not
    // flag a host a hair below it.
    double min_shortfall = 0.03;
    // Fewer hosts than this make no group to stand out of.
    std::size_t min_group = 3;
};

struct Standing {
    std::size_t copies = 1;
    std::size_t group_size = 0;
    double percentile = 50;             // 0 to 100, by midrank: 100 (r - 0.5) / group_size
    double ratio_to_group_median = 1;   // the host's median over the group's
    bool outlier = false;               // slow for its kind
};

// One standing per figure, in the figures' order; a group is the figures
// with the same group and copy count. Time O(n log n). Each median must be
// finite and above 0: std::invalid_argument otherwise.
std::vector<Standing> find_standings(const std::vector<HostFigure>& figures, const StandingSettings& settings = {});

// The document's standings, one per entry of its summary: a host's kind is
// its processor and the build's line.
void add_standings(Document& document);

}  // namespace ptrun
