// Database module: a heap table of generated records, sorted, grouped and
// queried once per work unit.
#pragma once

#include <cstddef>
#include <cstdint>

struct DbRecord {
    std::int32_t id;
    std::int32_t countdown;
    std::int32_t bucket;
    std::int32_t value1;
    std::int32_t value2;
    std::int32_t value3;
    char flag;
    char digit;
    char name[20];
    char text[76];
    char code[10];
    char spare[4];  // never written
};
static_assert(sizeof(DbRecord) == 136);
static_assert(offsetof(DbRecord, flag) == 24);
static_assert(offsetof(DbRecord, digit) == 25);
static_assert(offsetof(DbRecord, name) == 26);
static_assert(offsetof(DbRecord, text) == 46);
static_assert(offsetof(DbRecord, code) == 122);
static_assert(offsetof(DbRecord, spare) == 132);

inline constexpr int kDbSlots = 1001;          // slot 0 reads as zeros; records in 1..1000
inline constexpr int kSelectionSlots = 102;
inline constexpr int kFlaggedSlots = 52;

// Heap blocks of the current run; null when they do not exist.
extern DbRecord* db_table;
extern DbRecord* selection_buffer;
extern DbRecord* flagged_buffer;

// Bookkeeping variables, never reset as a whole.
extern std::int32_t mix1, mix2, mix3, mix4, mix5, mix6, mix7, mix8, mix9;
// Report variables of the last step.
extern std::int32_t group_key, group_sum_a, group_sum_b, group_low_count, group_min, group_max;
extern std::int32_t total_sum, total_high_count, overall_min, overall_max, final_max;

// Builds the table for a run; returns 0 for success.
std::int32_t db_setup();
// Frees the table and the selection buffers at the end of a run.
void db_release();
// The work unit's last step; returns 0 for success.
std::int32_t database_step();
