// The figures computed from a document's runs, as types: rounds, summaries
// and what a comparison of two sides found. decide/ computes them; the model
// holds them, the writer writes them and present/ shows them.
#pragma once

#include <array>
#include <compare>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ptrun {

// An optional value kept on the heap: a run's snapshots and profile, and a
// round's module figures, cost a pointer each until recorded, which keeps a
// file's many runs and rounds small in memory.
template <typename T>
class Boxed {
public:
    Boxed() = default;
    Boxed(const Boxed& other) : value_(other ? std::make_unique<T>(*other) : nullptr) {}
    Boxed(Boxed&&) noexcept = default;
    Boxed& operator=(const Boxed& other) { return *this = Boxed(other); }
    Boxed& operator=(Boxed&&) noexcept = default;
    Boxed& operator=(const std::optional<T>& value) {
        value_ = value ? std::make_unique<T>(*value) : nullptr;
        return *this;
    }
    Boxed& operator=(T value) {
        value_ = std::make_unique<T>(std::move(value));
        return *this;
    }
    explicit operator bool() const { return value_ != nullptr; }
    const T& operator*() const { return *value_; }
    const T* operator->() const { return value_.get(); }

private:
    std::unique_ptr<T> value_;
};

// A text that many figures hold, kept once: each holder spends a pointer
// pair on it, not a string and its copy on the heap. A file's million rounds
// share the few calls, hosts and builds they come from.
class SharedText {
public:
    SharedText() = default;
    explicit SharedText(std::string text) : text_(std::make_shared<const std::string>(std::move(text))) {}
    const std::string& str() const { return text_ ? *text_ : empty_text(); }
    operator const std::string&() const { return str(); }  // NOLINT: read as the text it is
    operator std::string_view() const { return str(); }    // NOLINT
    bool empty() const { return str().empty(); }
    friend bool operator==(const SharedText& a, const SharedText& b) {
        return a.text_ == b.text_ || a.str() == b.str();
    }
    friend bool operator==(const SharedText& a, std::string_view b) { return a.str() == b; }
    friend std::strong_ordering operator<=>(const SharedText& a, const SharedText& b) { return a.str() <=> b.str(); }

private:
    static const std::string& empty_text() {
        static const std::string empty;
        return empty;
    }
    std::shared_ptr<const std::string> text_;
};

// The work unit's modules and the processor's events, in the order of the
// unit and of ptverify's profile, by the names the file gives them.
inline constexpr std::size_t kModuleCount = 6;
inline constexpr std::size_t kEventCount = 5;
inline constexpr std::array<const char*, kModuleCount> kModuleNames = {"copy",  "dates",   "words",
                                                                       "parse", "library", "database"};
inline constexpr std::array<const char*, kEventCount> kEventNames = {"instructions", "cycles", "branch_misses",
                                                                     "l1i_misses", "itlb_misses"};
// A figure per module: milliseconds per work unit, or a count per unit.
using ModuleFigures = std::array<double, kModuleCount>;
using ModuleTimes = ModuleFigures;
// Per module, each event's count per work unit; none where it was not counted.
using ModuleCounters = std::array<std::array<std::optional<double>, kEventCount>, kModuleCount>;

// A round's rate score is the sum of its copies' scores; only rounds whose
// copies all have a score are rounds.
// Its module figures are the means of its copies', where every copy has them.
struct RoundFigure {
    SharedText call, host, build;
    int copies = 0, round = 0;
    bool warmup = false, flagged = false;
    double rate = 0;
    Boxed<ModuleFigures> module_ms = {}, instructions = {}, cycles = {};
};

// Per host, build and copy count, over the rounds that are not warm-up.
struct SummaryFigure {
    std::string host, build;
    int copies = 0;
    std::size_t rounds = 0;
    double median = 0, min = 0, max = 0, cv = 0;
    std::optional<double> efficiency;  // against the one-copy median of the same host and build
    int flagged = 0;                   // flagged runs that are not warm-up
    // Per module, the median over the rounds that were profiled.
    std::optional<ModuleFigures> module_ms = std::nullopt;
};

enum class Verdict { faster, slower, no_difference, too_few };

// The words a verdict is written in.
inline const char* verdict_text(Verdict verdict) {
    switch (verdict) {
        case Verdict::faster: return "faster";
        case Verdict::slower: return "slower";
        case Verdict::no_difference: return "no difference shown";
        case Verdict::too_few: break;
    }
    return "too few runs to decide";
}

struct SampleComparison {
    std::size_t n_a = 0, n_b = 0;
    double median_a = 0, median_b = 0;
    double ratio = 0;                     // median_b / median_a
    double ratio_low = 0, ratio_high = 0; // interval of the ratio
    double estimate = 0;                  // Hodges-Lehmann estimate of the test used: inside the interval
    double confidence = 0;                // the interval's actual coverage
    double p_value = 1;                   // two-sided: rank-sum, or signed-rank where paired
    bool decidable = false;               // whether any outcome could be significant under the test used
    Verdict verdict = Verdict::too_few;
    // The smallest slowdown (0.031: 3.1 %) such rounds would have shown in
    // 80 % of calls: computed for a rate score's comparison, none where no
    // outcome could be significant.
    std::optional<double> detectable_slowdown;
    // Where the rounds came in pairs and the paired test was used: how many
    // pairs (then n_a = n_b = pairs); 0 for the rank-sum test of unpaired sets.
    std::size_t pairs = 0;
};

// The test a comparison used: the paired one where its rounds came in pairs.
inline const char* test_text(const SampleComparison& c) { return c.pairs > 0 ? "signed-rank" : "rank-sum"; }

// One module of B against A, on its rounds' milliseconds per unit: the
// figures' ratios are B's time over A's (above 1: B takes longer). share is
// the module's part of the difference of the modules' summed medians (none
// when that is 0); the instructions per unit and cycles per instruction are
// the medians of each side's rounds, where both sides counted them.
struct ModuleComparison {
    std::size_t module = 0;  // in kModuleNames
    SampleComparison figures;
    std::optional<double> share;
    std::optional<double> instructions_a, instructions_b, cpi_a, cpi_b;
};

inline std::string copies_text(int copies) { return std::to_string(copies) + (copies == 1 ? " copy" : " copies"); }

}  // namespace ptrun
