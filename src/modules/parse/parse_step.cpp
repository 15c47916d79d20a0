#include <array>
#include <cstddef>
#include <utility>

#include "workload/workload.h"
#include "modules/parse/evaluator.h"
#include "modules/parse/parse.h"
#include "workload/report_error.h"

std::int32_t parse_phase;
std::int32_t parse_cursor;

// Successive sweeps run through more and more of the copies and their
// storage; phase 14 runs all of them.
const std::int32_t sweep_lengths[kSweepPhases] = {9, 11, 13, 15, 17, 19, 21, 23, 25, 29, 33, 37, 53, 73, 150};

namespace {

// An amount above this asks for the expression's value.
constexpr std::int32_t kEvaluationThreshold = 500;

using EvaluatorCopy = std::int32_t (*)(const char*, std::int32_t);

template <std::size_t... Index>
constexpr std::array<EvaluatorCopy, sizeof...(Index)> list_copies(std::index_sequence<Index...>) {
    return {&Evaluator<static_cast<int>(Index) + 1>::parse_and_evaluate...};
}

// Sweep position i calls copy i (entry i - 1).
constexpr std::array<EvaluatorCopy, kEvaluatorCopies> evaluator_copies =
    list_copies(std::make_index_sequence<kEvaluatorCopies>{});

}  // namespace

std::int32_t parse_step() {
    const std::int32_t sweep_length = sweep_lengths[parse_phase];
    std::int32_t result = 0;
    for (std::int32_t i = 0; i < sweep_length; ++i) {
        const std::int32_t r = parse_cursor;
        const std::int32_t evaluate = long_records[r].amount > kEvaluationThreshold ? 1 : 0;
        parse_cursor = r + 1;
        result = evaluator_copies[static_cast<std::size_t>(i)](long_records[r].expression, evaluate);
        if (parse_cursor > kLastParsedRecord) parse_cursor = 0;
    }
    // Only the sweep's last result is checked.
    if (result < kLowestSweepResult || result > kHighestSweepResult) report_error("Arithmetic evaluation error.");

    // One record is skipped between sweeps.
    ++parse_cursor;
    if (parse_cursor > kLastParsedRecord) parse_cursor = 0;
    ++parse_phase;
    if (parse_phase >= kSweepPhases) parse_phase = 0;
    return result;
}
