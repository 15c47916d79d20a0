#include "decide/changepoint.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>
#include <stdexcept>
#include <utility>

namespace ptrun {

namespace {

// A segment's calls as the statistic sees them: each call's sum of the
// midranks of its rounds among the segment's rounds, and its round count.
struct RankedCalls {
    std::vector<double> rank_sum;
    std::vector<double> rounds;
    double total = 0;  // rounds in the segment
};

RankedCalls rank_calls(const std::vector<CallRounds>& calls, std::size_t lo, std::size_t hi) {
    std::vector<std::pair<double, std::size_t>> pooled;  // score, call within the segment
    for (std::size_t c = lo; c < hi; ++c) {
        for (double v : calls[c]) pooled.emplace_back(v, c - lo);
    }
    std::sort(pooled.begin(), pooled.end());
    RankedCalls ranked;
    ranked.rank_sum.assign(hi - lo, 0.0);
    ranked.rounds.assign(hi - lo, 0.0);
    ranked.total = static_cast<double>(pooled.size());
    for (std::size_t i = 0; i < pooled.size();) {
        std::size_t j = i;
        while (j < pooled.size() && pooled[j].first == pooled[i].first) ++j;
        const double midrank = static_cast<double>(i + j + 1) / 2;
        for (std::size_t k = i; k < j; ++k) {
            ranked.rank_sum[pooled[k].second] += midrank;
            ranked.rounds[pooled[k].second] += 1;
        }
        i = j;
    }
    return ranked;
}

struct Split {
    std::size_t calls_before = 0;
    double statistic = 0;
};

// The largest standardised rank-sum statistic over the allowed splits of the
// calls taken in `order`, squared (the common factor (N + 1) / 12 and the
// ties' correction, the same at every split of a segment, left out).
Split widest_split(const RankedCalls& ranked, const std::vector<std::size_t>& order, std::size_t min_calls) {
    const double n = ranked.total;
    Split best;
    double sum = 0, count = 0;
    for (std::size_t t = 0; t + min_calls < order.size(); ++t) {
        sum += ranked.rank_sum[order[t]];
        count += ranked.rounds[order[t]];
        if (t + 1 < min_calls) continue;
        const double deviation = sum - count * (n + 1) / 2;
        const double statistic = deviation * deviation / (count * (n - count));
        if (statistic > best.statistic) best = {t + 1, statistic};
    }
    return best;
}

// A uniform draw below bound, the same on every standard library (their
// distributions and std::shuffle are not), so a p-value is reproducible.
std::uint64_t draw_below(std::mt19937_64& random, std::uint64_t bound) {
    const std::uint64_t reject_below = (std::uint64_t{0} - bound) % bound;
    std::uint64_t x = random();
    while (x < reject_below) x = random();
    return x % bound;
}

// The split of calls [lo, hi) and its permutation p-value.
std::pair<Split, double> search_segment(const std::vector<CallRounds>& calls, std::size_t lo, std::size_t hi,
                                        const ChangePointSettings& settings) {
    const RankedCalls ranked = rank_calls(calls, lo, hi);
    std::vector<std::size_t> order(hi - lo);
    std::iota(order.begin(), order.end(), std::size_t{0});
    const Split observed = widest_split(ranked, order, settings.min_calls);
    // Seeded by the segment, so its p-value does not hang on which segments were searched before.
    std::mt19937_64 random(settings.seed ^ (std::uint64_t{lo} * 0x9e37'79b9'7f4a'7c15U) ^
                           (std::uint64_t{hi} * 0xbf58'476d'1ce4'e5b9U));
    // Rounding may make a rearrangement as wide as the observed one look a hair narrower.
    const double as_wide = observed.statistic * (1 - 1e-12);
    std::size_t at_least = 0;
    for (std::size_t p = 0; p < settings.permutations; ++p) {
        for (std::size_t i = order.size() - 1; i > 0; --i) std::swap(order[i], order[draw_below(random, i + 1)]);
        if (widest_split(ranked, order, settings.min_calls).statistic >= as_wide) ++at_least;
    }
    const double p = static_cast<double>(at_least + 1) / static_cast<double>(settings.permutations + 1);
    return {observed, p};
}

void check_calls(const std::vector<CallRounds>& calls) {
    for (const CallRounds& call : calls) {
        if (call.empty()) throw std::invalid_argument("a call without scored rounds");
        for (double v : call) {
            if (!std::isfinite(v) || v <= 0) throw std::invalid_argument("a round's score not a number above 0");
        }
    }
}

std::vector<double> rounds_of(const std::vector<CallRounds>& calls, std::size_t lo, std::size_t hi) {
    std::vector<double> rounds;
    for (std::size_t c = lo; c < hi; ++c) rounds.insert(rounds.end(), calls[c].begin(), calls[c].end());
    return rounds;
}

}  // namespace

std::vector<ChangePoint> find_change_points(const std::vector<CallRounds>& calls, const ChangePointSettings& settings) {
    check_calls(calls);
    const std::size_t min_calls = std::max<std::size_t>(1, settings.min_calls);
    ChangePointSettings used = settings;
    used.min_calls = min_calls;
    std::vector<ChangePoint> found;
    std::vector<std::pair<std::size_t, std::size_t>> segments = {{0, calls.size()}};
    while (!segments.empty()) {
        const auto [lo, hi] = segments.back();
        segments.pop_back();
        if (hi - lo < 2 * min_calls) continue;
        const auto [split, p] = search_segment(calls, lo, hi, used);
        if (split.statistic <= 0 || p > settings.alpha) continue;
        const std::size_t at = lo + split.calls_before;
        found.push_back({at, p, {}});
        segments.emplace_back(lo, at);
        segments.emplace_back(at, hi);
    }
    std::sort(found.begin(), found.end(), [](const auto& x, const auto& y) { return x.first_call < y.first_call; });
    for (std::size_t i = 0; i < found.size(); ++i) {
        const std::size_t from = i == 0 ? 0 : found[i - 1].first_call;
        const std::size_t to = i + 1 == found.size() ? calls.size() : found[i + 1].first_call;
        found[i].comparison =
            compare_samples(rounds_of(calls, from, found[i].first_call), rounds_of(calls, found[i].first_call, to));
    }
    return found;
}

}  // namespace ptrun
