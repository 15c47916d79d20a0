#include "driver/work_unit.h"

#include <array>
#include <utility>

#include "modules/copy/copy.h"
#include "modules/database/database.h"
#include "modules/dates/dates.h"
#include "modules/library/library.h"
#include "modules/parse/parse.h"
#include "modules/words/words.h"
#include "workload/workload.h"

namespace {

// The steps as the unit calls them: the data copy calls see copy_calls_left
// count down from 3001 to 1, and the date step always gets the same slots.
void copy_step_call() {
    copy_step();
    --copy_calls_left;
}

void date_step_call() { date_step(&out_minute, &out_hour, &out_day, &out_month, &base_year); }

void parse_step_call() { parse_step(); }

void database_step_call() { database_step(); }

}  // namespace

// Defined constexpr, so that every call in the unit is a direct call, as if
// written out by hand.
constexpr WorkStep kWorkSteps[kWorkStepCount] = {
    {"copy", copy_step_call, kCopyStepsPerUnit},
    {"dates", date_step_call, kDateStepsPerUnit},
    {"words", word_step, kWordStepsPerUnit},
    {"parse", parse_step_call, kParseStepsPerUnit},
    {"library", library_step, kLibraryStepsPerUnit},
    {"database", database_step_call, kDatabaseStepsPerUnit},
};

namespace {

template <std::size_t Step>
void run_calls() {
    for (std::int32_t i = 0; i < kWorkSteps[Step].calls_per_unit; ++i) kWorkSteps[Step].run();
}

template <std::size_t... Step>
constexpr auto list_runners(std::index_sequence<Step...>) {
    return std::to_array<void (*)()>({run_calls<Step>...});
}

constexpr auto kStepRunners = list_runners(std::make_index_sequence<kWorkStepCount>());

template <std::size_t... Step>
void run_all_steps(std::index_sequence<Step...>) {
    (run_calls<Step>(), ...);
}

}  // namespace

std::int32_t setup_workload() {
    database_limit = 8;
    module_seed = 7;
    fill_work_tables();
    module_seed = 7;
    const std::int32_t status = db_setup();
    module_seed = 7;
    set_copy_sizes();
    return status;
}

void reset_work_unit_state() {
    copy_call_counter = 0;
    copy_ring_pos = 4;
    copy_calls_left = kCopyStepsPerUnit;
    base_year = 1949;
    base_month = 4;
    base_day = 6;
    base_hour = 6;
    base_minute = 2;
    date_phase = 0;
    word_phase = 0;
    word_position = 0;
    parse_phase = 0;
    library_phase = 0;
    library_cursor = 699;
    go_intern = 0;
    module_seed = 7;
}

void run_step_calls(std::size_t step) { kStepRunners[step](); }

void run_work_unit() {
    reset_work_unit_state();
    run_all_steps(std::make_index_sequence<kWorkStepCount>());
}
