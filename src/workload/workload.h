// What every workload module shares: the work record tables, the workload
// state, the module random generator, the set-up and the work unit.
#pragma once

#include <cstddef>
#include <cstdint>

struct WorkRecord {
    char text1[64];
    char text2[112];
    char word[16];
    char expression[32];
    std::int32_t offset;
    std::int32_t amount;
    std::int32_t link;
    std::int32_t selector;
    std::int32_t category;
    std::int32_t year;
    std::int32_t month;
    std::int32_t day;
    std::int32_t hour;
    std::int32_t minute;
    std::int32_t vowel_total;
    std::int32_t vowel_base;
};

// The data copy module copies byte ranges that cross these fields, so the
// layout is part of the workload's definition.
static_assert(sizeof(WorkRecord) == 272);
static_assert(offsetof(WorkRecord, text1) == 0);
static_assert(offsetof(WorkRecord, text2) == 64);
static_assert(offsetof(WorkRecord, word) == 176);
static_assert(offsetof(WorkRecord, expression) == 192);
static_assert(offsetof(WorkRecord, offset) == 224);
static_assert(offsetof(WorkRecord, amount) == 228);
static_assert(offsetof(WorkRecord, link) == 232);
static_assert(offsetof(WorkRecord, selector) == 236);
static_assert(offsetof(WorkRecord, category) == 240);
static_assert(offsetof(WorkRecord, year) == 244);
static_assert(offsetof(WorkRecord, month) == 248);
static_assert(offsetof(WorkRecord, day) == 252);
static_assert(offsetof(WorkRecord, hour) == 256);
static_assert(offsetof(WorkRecord, minute) == 260);
static_assert(offsetof(WorkRecord, vowel_total) == 264);
static_assert(offsetof(WorkRecord, vowel_base) == 268);

inline constexpr int kRecordCount = 700;

extern WorkRecord long_records[kRecordCount];
extern WorkRecord short_records[kRecordCount];
extern std::int32_t index_table[kRecordCount];

// ---- Workload state -----------------------------------------------------
// Reset by every work unit:
extern std::int32_t copy_call_counter;
extern std::int32_t copy_ring_pos;
extern std::int32_t copy_calls_left;
extern std::int32_t base_year;
extern std::int32_t base_month;
extern std::int32_t base_day;
extern std::int32_t base_hour;
extern std::int32_t base_minute;
extern std::int32_t date_phase;
extern std::int32_t word_phase;
extern std::int32_t word_position;
extern std::int32_t parse_phase;
extern std::int32_t library_phase;
extern std::int32_t library_cursor;
extern std::int32_t go_intern;
extern std::int32_t module_seed;
// Set once per run by the set-up:
extern std::int32_t copy_size_a;
extern std::int32_t copy_size_b;
extern std::int32_t copy_size_c;
extern std::int32_t database_limit;
// Written by the date step, never reset:
extern std::int32_t out_minute;
extern std::int32_t out_hour;
extern std::int32_t out_day;
extern std::int32_t out_month;

// Step calls of one work unit, in the order the unit makes them.
inline constexpr int kCopyStepsPerUnit = 3001;
inline constexpr int kDateStepsPerUnit = 123;
inline constexpr int kWordStepsPerUnit = 337;
inline constexpr int kParseStepsPerUnit = 28;
inline constexpr int kLibraryStepsPerUnit = 235;

// 0 to 32767, from the linear congruential sequence seeded by module_seed.
std::int32_t module_random();

// Prepares one run; returns the database module's status (0 for success).
std::int32_t setup_workload();
void fill_work_tables();
void set_copy_sizes();

// The timed quantum: resets the per-unit state and calls every module's step
// routine a fixed number of times in a fixed order.
void run_work_unit();

// The pieces of a work unit in its order; run_work_unit is exactly these,
// and the benchmarks time them one by one.
void reset_work_unit_state();
void run_copy_steps();
void run_date_steps();
void run_word_steps();
void run_parse_steps();
void run_library_steps();
void run_database_step();
