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
inline constexpr int kDbRecords = kDbSlots - 1;
inline constexpr int kSelectionSlots = 102;
inline constexpr int kFlaggedSlots = 52;

// Set once per run by the set-up: rounds of the inner loop of each
// bookkeeping block (db_mix).
extern std::int32_t database_limit;

// Heap blocks of the current run; null when they do not exist.
extern DbRecord* db_table;
extern DbRecord* selection_buffer;
extern DbRecord* flagged_buffer;

// Where the module gets its heap blocks: a zero-filled block of the given
// size that std::free releases, or null when there is no memory. Tests put a
// failing allocator here to reach the allocation error paths.
using DbAllocator = void* (*)(std::size_t bytes);
void* db_zeroed_block(std::size_t bytes);
extern DbAllocator db_allocator;

// Bookkeeping variables, never reset as a whole.
extern std::int32_t mix1, mix2, mix3, mix4, mix5, mix6, mix7, mix8, mix9;
// value2 of slot 1, as the last bookkeeping block read it.
extern std::int32_t anchor;
// Report variables of the last step.
extern std::int32_t group_key, group_sum_a, group_sum_b, group_low_count, group_min, group_max;
extern std::int32_t total_sum, total_high_count, overall_min, overall_max, final_max;

// Builds the table for a run; returns 0 for success.
std::int32_t db_setup();
// Writes record number a, drawing its contents from module_random().
void db_fill_record(std::int32_t a, DbRecord* slot);
// Sorts slots first .. first+n-1 of table in place, ascending by the key of
// mode (1 name, 2 bucket, 3 id; any other mode finds every pair equal).
void db_sort(DbRecord* table, std::int32_t mode, std::int32_t first, std::int32_t n);
// Positive when left orders after right under mode, else 0 or negative.
std::int32_t db_compare(DbRecord left, DbRecord right, std::int32_t mode);
// Frees the table and the selection buffers at the end of a run.
void db_release();

// One block of the step's bookkeeping arithmetic over mix1..mix9.
void db_mix(std::int32_t x, const DbRecord& rec);
// The work unit's last step; returns 0 for success.
std::int32_t database_step();

// The step's queries over slots of db_table. Their own namespace keeps them
// apart from the report variables of the same names.
namespace db_query {
// Over the run of slots from i on that share slot i's bucket.
std::int32_t group_sum(std::int32_t i);
std::int32_t group_low_count(std::int32_t i);
std::int32_t group_min(std::int32_t i);
std::int32_t group_max(std::int32_t i);
// Over slots lo..hi.
std::int32_t range_sum(std::int32_t lo, std::int32_t hi);
std::int32_t range_high_count(std::int32_t lo, std::int32_t hi);
std::int32_t range_min(std::int32_t lo, std::int32_t hi);
std::int32_t range_max(std::int32_t lo, std::int32_t hi);
}  // namespace db_query
