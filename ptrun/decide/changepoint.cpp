#include "decide/changepoint.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <stdexcept>
#include <utility>

#include "decide/rounds.h"
#include "decide/selective.h"

namespace ptrun {

namespace {

// One stretch of a piecewise quadratic a x^2 + b x + c over [lo, hi), and
// the first call of the last level of the partitioning it stands for.
struct Piece {
    double lo = 0, hi = 0, a = 0, b = 0, c = 0;
    std::size_t tag = 0;
    double at(double x) const { return (a * x + b) * x + c; }
};

// Where a - b, a quadratic, changes sign strictly inside (from, to), ascending.
std::vector<double> crossings(const Piece& a, const Piece& b, double from, double to) {
    const double qa = a.a - b.a, qb = a.b - b.b, qc = a.c - b.c;
    std::vector<double> roots;
    if (qa == 0) {
        if (qb != 0) roots.push_back(-qc / qb);
    } else {
        const double disc = qb * qb - 4 * qa * qc;
        if (disc > 0) {
            // The stable pair of roots: no difference of near equals.
            const double q = -0.5 * (qb + std::copysign(std::sqrt(disc), qb));
            roots.push_back(q / qa);
            if (q != 0) roots.push_back(qc / q);
        }
    }
    std::sort(roots.begin(), roots.end());
    std::erase_if(roots, [&](double r) { return !(r > from && r < to); });
    return roots;
}

// The cost of the best partitioning of the calls so far as a function of
// the newest level's value: a piecewise quadratic that grows by each call's
// clipped loss and is lowered to the cost of beginning a new level where
// that is less. Stretches that can no longer be the best vanish under the
// lowering, which is the functional pruning that keeps the work near linear.
class ClippedCost {
public:
    ClippedCost(double lo, double hi) : pieces_{{lo, hi, 0, 0, 0, 0}} {}

    // Adds min((x - z)^2, clip^2).
    void add(double z, double clip) {
        scratch_.clear();
        for (const Piece& p : pieces_) add_clipped(p, z, clip, scratch_);
        pieces_.swap(scratch_);
    }

    // min(cost, base + min((x - z)^2, clip^2)), the second tagged `tag`:
    // a new level whose first call is z, after the best partitioning that
    // costs base.
    void lower_to(double base, double z, double clip, std::size_t tag) {
        other_.clear();
        add_clipped({pieces_.front().lo, pieces_.back().hi, 0, 0, base, tag}, z, clip, other_);
        scratch_.clear();
        std::size_t i = 0, j = 0;
        for (double from = pieces_.front().lo; i < pieces_.size() && j < other_.size();) {
            const Piece &a = pieces_[i], &b = other_[j];
            const double to = std::min(a.hi, b.hi);
            std::vector<double> cuts = crossings(a, b, from, to);
            cuts.push_back(to);
            for (double cut : cuts) {
                const double middle = from + (cut - from) / 2;
                Piece part = b.at(middle) < a.at(middle) ? b : a;
                part.lo = from;
                part.hi = cut;
                append(part);
                from = cut;
            }
            if (a.hi <= to) ++i;
            if (b.hi <= to) ++j;
        }
        pieces_.swap(scratch_);
    }

    struct Minimum {
        double value = 0, at = 0;
        std::size_t tag = 0;
    };
    Minimum minimum() const {
        Minimum best{INFINITY, 0, 0};
        for (const Piece& p : pieces_) {
            const double x = p.a > 0 ? std::clamp(-p.b / (2 * p.a), p.lo, p.hi) : p.lo;
            const double v = p.at(x);
            if (v < best.value) best = {v, x, p.tag};
        }
        return best;
    }

private:
    static void add_clipped(const Piece& p, double z, double clip, std::vector<Piece>& out) {
        const double left = z - clip, right = z + clip;
        double from = p.lo;
        for (double cut : {left, right, p.hi}) {
            if (cut <= from || cut > p.hi) continue;
            Piece part = p;
            part.lo = from;
            part.hi = cut;
            const double middle = from + (cut - from) / 2;
            if (middle > left && middle < right) {
                part.a += 1;
                part.b -= 2 * z;
                part.c += z * z;
            } else {
                part.c += clip * clip;
            }
            out.push_back(part);
            from = cut;
        }
    }

    void append(const Piece& part) {
        if (part.hi <= part.lo) return;
        Piece* last = scratch_.empty() ? nullptr : &scratch_.back();
        if (last != nullptr && last->tag == part.tag && last->a == part.a && last->b == part.b && last->c == part.c) {
            last->hi = part.hi;
        } else {
            scratch_.push_back(part);
        }
    }

    std::vector<Piece> pieces_, scratch_, other_;
};

// The first call of each level of the best partitioning of z into levels
// of two calls at least: a level begun at call t - 1 is tried once call t
// is in, after the best partitioning of the calls before it.
std::vector<std::size_t> best_partition(const std::vector<double>& z, double clip, double penalty) {
    const auto [low, high] = std::minmax_element(z.begin(), z.end());
    ClippedCost cost(*low - clip - 1, *high + clip + 1);
    std::vector<std::size_t> last_start(z.size(), 0);
    std::vector<double> best(z.size(), 0);
    for (std::size_t t = 0; t < z.size(); ++t) {
        if (t >= 3) cost.lower_to(best[t - 2] + penalty, z[t - 1], clip, t - 1);
        cost.add(z[t], clip);
        const ClippedCost::Minimum m = cost.minimum();
        best[t] = m.value;
        last_start[t] = m.tag;
    }
    std::vector<std::size_t> starts;
    for (std::size_t end = z.size(); end > 0; end = starts.back()) starts.push_back(last_start[end - 1]);
    std::reverse(starts.begin(), starts.end());
    return starts;
}

// The value that minimises the clipped loss of z[first, end), reached from
// the median by averaging what lies within clip of the last value.
double clipped_level(const std::vector<double>& z, std::size_t first, std::size_t end, double clip) {
    std::vector<double> part(z.begin() + static_cast<std::ptrdiff_t>(first),
                             z.begin() + static_cast<std::ptrdiff_t>(end));
    double level = median_of(part);
    for (int i = 0; i < 50; ++i) {
        double sum = 0, count = 0;
        for (double v : part) {
            if (std::fabs(v - level) < clip) sum += v, count += 1;
        }
        const double next = count > 0 ? sum / count : level;
        if (next == level) break;
        level = next;
    }
    return level;
}

// 1.4826 times the median of the absolute values: their standard deviation
// where they are normal, robust to a few that are not.
double robust_spread(std::vector<double> values) {
    if (values.empty()) return 0;
    for (double& v : values) v = std::fabs(v);
    return 1.4826 * median_of(std::move(values));
}

// The standard deviation of the values whose differences these are: the
// root mean square of the differences within 3.5 robust spreads of 0 (so a
// step or a bad call does not count, while the estimate keeps nearly all of
// the plain one's precision, which the median alone does not), over sqrt 2.
// Fewer differences give a less certain spread, which is widened to match.
double spread_from_differences(const std::vector<double>& differences, double widen) {
    const double bound = 3.5 * robust_spread(differences);
    double sum = 0, kept = 0;
    for (double d : differences) {
        if (std::fabs(d) <= bound) sum += d * d, kept += 1;
    }
    if (kept == 0) return 0;
    return std::sqrt(sum / kept / 2) * (1 + widen / kept);
}

struct Spreads {
    double call = 0, round = 0;
    double floor = 1e-4;  // what the rounds' own spread gives a call, and never below a hundredth of a percent
    bool rounds_independent = false;
};

// A call's value: the mean of its rounds' logs, those more than 3.5 round
// spreads from their median left out (one interrupted round moves no call).
double call_value(const CallRounds& call, double round_spread) {
    std::vector<double> logs;
    for (double v : call) logs.push_back(std::log(v));
    const double middle = median_of(logs);
    double sum = 0, count = 0;
    for (double v : logs) {
        if (std::fabs(v - middle) <= 3.5 * round_spread) sum += v, count += 1;
    }
    return count > 0 ? sum / count : middle;
}

// The rounds' spread within their calls, from the differences of
// neighbouring rounds; 0 where no call has two.
double round_spread_of(const std::vector<CallRounds>& calls) {
    std::vector<double> within;
    for (const CallRounds& call : calls) {
        for (std::size_t r = 1; r < call.size(); ++r) within.push_back(std::log(call[r] / call[r - 1]));
    }
    return robust_spread(within) / std::sqrt(2.0);
}

// From the calls' values (logs) and the rounds' spread: the first estimate
// of the call spread, from the differences of neighbouring calls.
Spreads spreads_of(const std::vector<CallRounds>& calls, const std::vector<double>& values, double round_spread,
                   double widen) {
    std::vector<double> between, counts;
    for (std::size_t c = 1; c < calls.size(); ++c) between.push_back(values[c] - values[c - 1]);
    for (const CallRounds& call : calls) counts.push_back(static_cast<double>(call.size()));
    Spreads s;
    s.round = round_spread;
    const double from_rounds = round_spread / std::sqrt(median_of(counts));
    const double from_calls = spread_from_differences(between, widen);
    // Calls whose values spread no more than their rounds predict share no
    // conditions of their own worth counting, once enough calls show it.
    s.rounds_independent =
        calls.size() >= 20 && s.round > 0 && from_calls * from_calls <= 1.5 * from_rounds * from_rounds;
    // Identical rounds still need a scale.
    s.floor = std::max(from_rounds, 1e-4);
    s.call = std::max(from_calls, s.floor);
    return s;
}

struct Working {
    const std::vector<CallRounds>& calls;
    std::vector<double> values;  // each call's value (its rounds' mean, but for a stray round)
    std::vector<double> z;        // the calls' log values, centred, in call spreads
    double centre = 0, spread = 1;
    std::vector<bool> outlier;
};

// Marks the calls of [first, end) whose rounds all lie beyond clip from its level.
void mark_outliers(Working& w, std::size_t first, std::size_t end, double clip) {
    const double level = clipped_level(w.z, first, end, clip);
    for (std::size_t c = first; c < end; ++c) {
        bool all_low = true, all_high = true;
        for (double v : w.calls[c]) {
            const double z = (std::log(v) - w.centre) / w.spread - level;
            all_low = all_low && z < -clip;
            all_high = all_high && z > clip;
        }
        w.outlier[c] = all_low || all_high;
    }
}

std::vector<double> values_of(const Working& w, Unit unit, std::size_t first, std::size_t end) {
    std::vector<double> values;
    for (std::size_t c = first; c < end; ++c) {
        if (w.outlier[c]) continue;
        if (unit == Unit::rounds) {
            values.insert(values.end(), w.calls[c].begin(), w.calls[c].end());
        } else {
            values.push_back(w.values[c]);
        }
    }
    return values;
}

// The newest calls as a level of their own: two or three calls at the end
// of the newest level, unclipped, that agree among themselves (their range
// within what so many calls spread 99 times in 100), all off the rest of
// the level on one side (by a call spread), and off it by more than the
// penalty allows.
// Clipping keeps one bad call from moving a level, but it also caps what
// the few calls after a step can show; bad calls seldom agree with each
// other or with the calls beside them, so the range and the side keep them
// out. The gate needs no more: the newest level is what it judges.
void split_newest(const std::vector<double>& z, std::vector<std::size_t>& starts, const ChangePointSettings& settings) {
    constexpr double kRange[] = {0, 0, 3.64, 4.12};  // of 2 and 3 normal values, in their spread
    const std::size_t first = starts.back(), end = z.size();
    std::size_t best_at = 0;
    double best_gain = settings.penalty;
    for (std::size_t k = 2; k <= 3 && end - first >= k + 2; ++k) {
        const std::size_t from = end - k;
        const auto [low, high] = std::minmax_element(z.begin() + static_cast<std::ptrdiff_t>(from), z.end());
        const double rest = clipped_level(z, first, from, settings.clip);
        if (*high - *low > kRange[k] || !(*high < rest - 1.0 || *low > rest + 1.0)) continue;
        double mean = 0;
        for (std::size_t c = from; c < end; ++c) mean += z[c] / static_cast<double>(k);
        const double m = static_cast<double>(from - first), kd = static_cast<double>(k);
        const double gain = kd * m / (kd + m) * (mean - rest) * (mean - rest);
        if (gain > best_gain) best_gain = gain, best_at = from;
    }
    if (best_at > 0) starts.push_back(best_at);
}

// The comparison of each level with the one before; an empty side (every
// call an outlier) makes an unconfirmed change.
std::vector<SampleComparison> compare_levels(Working& w, Unit unit, const std::vector<std::size_t>& starts,
                                             const ChangePointSettings& settings) {
    for (std::size_t i = 0; i < starts.size(); ++i) {
        mark_outliers(w, starts[i], i + 1 < starts.size() ? starts[i + 1] : w.z.size(), settings.clip);
    }
    std::vector<SampleComparison> found;
    for (std::size_t i = 1; i < starts.size(); ++i) {
        const std::vector<double> before = values_of(w, unit, starts[i - 1], starts[i]);
        const std::size_t end = i + 1 < starts.size() ? starts[i + 1] : w.z.size();
        const std::vector<double> after = values_of(w, unit, starts[i], end);
        found.push_back(before.empty() || after.empty() ? SampleComparison{}
                                                        : compare_samples(before, after, settings.alpha));
    }
    return found;
}

bool confirmed(const SampleComparison& c) { return c.verdict == Verdict::slower || c.verdict == Verdict::faster; }

// A uniform draw below bound, the same on every standard library (their
// distributions and std::shuffle are not), so a p-value is reproducible.
std::uint64_t draw_below(std::mt19937_64& random, std::uint64_t bound) {
    const std::uint64_t reject_below = (std::uint64_t{0} - bound) % bound;
    std::uint64_t x = random();
    while (x < reject_below) x = random();
    return x % bound;
}

// The clearest split of the values into two runs of at least two: the
// squared difference of their means weighted by t (m - t) / m.
double clearest_split(const std::vector<double>& values) {
    const std::size_t m = values.size();
    double total = 0;
    for (double v : values) total += v;
    double best = 0, sum = 0;
    for (std::size_t t = 1; t + 2 <= m; ++t) {
        sum += values[t - 1];
        if (t < 2) continue;
        const double n = static_cast<double>(m), k = static_cast<double>(t);
        const double gap = sum / k - (total - sum) / (n - k);
        best = std::max(best, gap * gap * k * (n - k) / n);
    }
    return best;
}

// How often rearranging the calls of [first, end) gives as clear a split.
double split_p(const Working& w, std::size_t first, std::size_t end, const ChangePointSettings& settings) {
    if (settings.permutations == 0) return 1;
    std::vector<double> values;
    for (std::size_t c = first; c < end; ++c) {
        if (!w.outlier[c]) values.push_back(w.z[c]);
    }
    if (values.size() < 4) return 1;
    const double observed = clearest_split(values) * (1 - 1e-12);
    std::mt19937_64 random(settings.seed ^ (std::uint64_t{first} * 0x9e37'79b9'7f4a'7c15U) ^
                           (std::uint64_t{end} * 0xbf58'476d'1ce4'e5b9U));
    std::size_t at_least = 0;
    for (std::size_t p = 0; p < settings.permutations; ++p) {
        for (std::size_t i = values.size() - 1; i > 0; --i) std::swap(values[i], values[draw_below(random, i + 1)]);
        at_least += clearest_split(values) >= observed ? 1 : 0;
    }
    return static_cast<double>(at_least + 1) / static_cast<double>(settings.permutations + 1);
}

void check_calls(const std::vector<CallRounds>& calls) {
    for (const CallRounds& call : calls) {
        if (call.empty()) throw std::invalid_argument("a call without scored rounds");
        for (double v : call) {
            if (!std::isfinite(v) || v <= 0) throw std::invalid_argument("a round's score not a number above 0");
        }
    }
}

std::size_t rounds_in(const Working& w, std::size_t first, std::size_t end, std::size_t& calls) {
    std::size_t rounds = 0;
    calls = 0;
    for (std::size_t c = first; c < end; ++c) {
        if (w.outlier[c]) continue;
        rounds += w.calls[c].size();
        ++calls;
    }
    return rounds;
}

// A change with this many calls or fewer on a side is found only where those
// calls' noise carried it past the penalty.
constexpr std::size_t kFewCalls = 5;

double mean_z(const Working& w, std::size_t first, std::size_t end, double& count) {
    double sum = 0;
    count = 0;
    for (std::size_t c = first; c < end; ++c) {
        if (!w.outlier[c]) sum += w.z[c], count += 1;
    }
    return count > 0 ? sum / count : 0;
}

// Such a change's size and interval, conditioned on its having been found:
// the difference of the levels' mean call values, in call spreads, found
// where it gained more than the penalty (decide/selective.h).
void condition_on_finding(const Working& w, std::size_t first, std::size_t split, std::size_t end,
                          const ChangePointSettings& settings, SampleComparison& c) {
    double m = 0, k = 0;
    const double before = mean_z(w, first, split, m), after = mean_z(w, split, end, k);
    if (m == 0 || k == 0) return;
    const double sd = std::sqrt(1 / m + 1 / k);
    const double bar = std::sqrt(settings.penalty) * sd;
    const SelectiveSize size = selective_size(after - before, sd, bar, 1 - settings.alpha);
    c.estimate = std::exp(size.estimate * w.spread);
    c.ratio_low = std::exp(size.low * w.spread);
    c.ratio_high = std::exp(size.high * w.spread);
    c.confidence = 1 - settings.alpha;
}

// The segmentation's figures once its starts stand.
Segmentation describe(Working& w, Unit unit, const std::vector<std::size_t>& starts,
                      const std::vector<SampleComparison>& comparisons, const ChangePointSettings& settings) {
    Segmentation s;
    s.unit = unit;
    const std::size_t n = w.z.size();
    for (std::size_t i = 0; i < starts.size(); ++i) {
        const std::size_t end = i + 1 < starts.size() ? starts[i + 1] : n;
        std::vector<double> medians;
        for (std::size_t c = starts[i]; c < end; ++c) {
            if (!w.outlier[c]) medians.push_back(w.z[c]);
        }
        const double level = medians.empty() ? clipped_level(w.z, starts[i], end, settings.clip) : median_of(medians);
        s.levels.push_back({starts[i], end, std::exp(level * w.spread + w.centre)});
        for (std::size_t c = starts[i]; c < end; ++c) {
            if (w.outlier[c]) s.outliers.push_back({c, std::exp((w.z[c] - level) * w.spread)});
        }
        if (i == 0) continue;
        ChangePoint point;
        point.first_call = starts[i];
        point.comparison = comparisons[i - 1];
        point.split_p = split_p(w, starts[i - 1], end, settings);
        point.rounds_before = rounds_in(w, starts[i - 1], starts[i], point.calls_before);
        point.rounds_after = rounds_in(w, starts[i], end, point.calls_after);
        if (std::min(point.calls_before, point.calls_after) <= kFewCalls) {
            condition_on_finding(w, starts[i - 1], starts[i], end, settings, point.comparison);
        }
        s.changes.push_back(point);
    }
    return s;
}

}  // namespace

// The call spread from the calls' distances to their levels in the
// partitioning `starts`, those beyond clip left out (with the normal
// distribution's share of the square within 3 spreads, 0.9733, put back),
// widened for the levels' and the calls' number as spreads_of widens; the
// calls' z rescaled to it. False where too few calls are left.
bool refine_spread(Working& w, const std::vector<std::size_t>& starts, const ChangePointSettings& settings,
                   double floor) {
    double sum = 0, kept = 0;
    for (std::size_t i = 0; i < starts.size(); ++i) {
        const std::size_t end = i + 1 < starts.size() ? starts[i + 1] : w.z.size();
        const double level = clipped_level(w.z, starts[i], end, settings.clip);
        for (std::size_t c = starts[i]; c < end; ++c) {
            const double r = w.z[c] - level;
            if (std::fabs(r) <= settings.clip) sum += r * r, kept += 1;
        }
    }
    const double freedom = kept - static_cast<double>(starts.size());
    if (freedom < 1) return false;
    const double spread =
        std::max(w.spread * std::sqrt(sum / freedom / 0.9733) * (1 + settings.widen / freedom), floor);
    for (double& z : w.z) z = z * w.spread / spread;
    w.spread = spread;
    return true;
}

// Which start goes for the unconfirmed change starts[i + 1]: itself, but
// where the test could not decide for a short level beside it, the other
// end of that level, so that a short spurious level next to a clear step
// does not take the step with it.
std::size_t undecided_drop(const std::vector<std::size_t>& starts, std::size_t n,
                           const std::vector<SampleComparison>& comparisons, std::size_t i) {
    if (comparisons[i].verdict != Verdict::too_few) return i + 1;
    const std::size_t before = starts[i + 1] - starts[i];
    const std::size_t after = (i + 2 < starts.size() ? starts[i + 2] : n) - starts[i + 1];
    if (before < after && i >= 1) return i;
    if (after < before && i + 2 < starts.size()) return i + 2;
    return i + 1;
}

Segmentation segment_calls(const std::vector<CallRounds>& calls, const ChangePointSettings& settings) {
    check_calls(calls);
    if (calls.empty()) return {};
    Working w{calls, {}, {}, 0, 1, std::vector<bool>(calls.size(), false)};
    const double round_spread = round_spread_of(calls);
    std::vector<double> logs;
    for (const CallRounds& call : calls) {
        logs.push_back(call_value(call, round_spread));
        w.values.push_back(std::exp(logs.back()));
    }
    const Spreads spreads = spreads_of(calls, logs, round_spread, settings.widen);
    w.centre = median_of(logs);
    w.spread = spreads.call;
    for (double m : logs) w.z.push_back((m - w.centre) / w.spread);
    const Unit unit = spreads.rounds_independent ? Unit::rounds : Unit::calls;
    std::vector<std::size_t> starts = best_partition(w.z, settings.clip, settings.penalty);
    // The spread again from each call's distance to its level, which counts
    // nearly every call where differences of neighbours count two thirds
    // of them; the calls then partitioned on it.
    if (refine_spread(w, starts, settings, spreads.floor)) {
        starts = best_partition(w.z, settings.clip, settings.penalty);
    }
    split_newest(w.z, starts, settings);
    std::vector<SampleComparison> comparisons = compare_levels(w, unit, starts, settings);
    // The least clear change that the rank test does not confirm goes, and
    // the levels either side are judged again as one.
    for (;;) {
        std::size_t drop = comparisons.size();
        for (std::size_t i = 0; i < comparisons.size(); ++i) {
            if (confirmed(comparisons[i])) continue;
            if (drop == comparisons.size() || comparisons[i].p_value > comparisons[drop].p_value) drop = i;
        }
        if (drop == comparisons.size()) break;
        const std::size_t dropped = undecided_drop(starts, w.z.size(), comparisons, drop);
        starts.erase(starts.begin() + static_cast<std::ptrdiff_t>(dropped));
        comparisons = compare_levels(w, unit, starts, settings);
    }
    Segmentation s = describe(w, unit, starts, comparisons, settings);
    s.call_spread = w.spread;
    s.round_spread = spreads.round;
    return s;
}

std::vector<ChangePoint> find_change_points(const std::vector<CallRounds>& calls, const ChangePointSettings& settings) {
    return segment_calls(calls, settings).changes;
}

std::vector<double> level_values(const std::vector<CallRounds>& calls, const Segmentation& s, std::size_t first,
                                 std::size_t end) {
    std::vector<double> values;
    auto outlier = std::lower_bound(s.outliers.begin(), s.outliers.end(), first,
                                    [](const OutlierCall& o, std::size_t c) { return o.call < c; });
    for (std::size_t c = first; c < end && c < calls.size(); ++c) {
        if (outlier != s.outliers.end() && outlier->call == c) {
            ++outlier;
            continue;
        }
        if (s.unit == Unit::rounds) {
            values.insert(values.end(), calls[c].begin(), calls[c].end());
        } else {
            values.push_back(std::exp(call_value(calls[c], s.round_spread)));
        }
    }
    return values;
}

}  // namespace ptrun
