// What every workload module stands on: the work record tables, the shared
// workload state, the module random generator and the table fill.
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

// The data copy module copies byte ranges that cross the text fields, so the
// layout is part of the workload's definition. No copy reaches the integer
// fields (copy_step.cpp checks it at compile time): an integer is only ever
// read and written whole, so the work is the same whatever the machine's byte
// order, and the state dump writes the integers little-endian everywhere.
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

// ---- Shared workload state --------------------------------------------------
// Each module's own state lives with that module; these are shared.
// Drawn from by the table fill, the word step and the database's set-up;
// reset to 7 by the set-up and by every work unit.
extern std::int32_t module_seed;
// Reset by every work unit and changed by nothing else; the run driver prints it.
extern std::int32_t go_intern;
// Set once per run by set_copy_sizes, to the lengths below; read by the data
// copy module.
extern std::int32_t copy_size_a;
extern std::int32_t copy_size_b;
extern std::int32_t copy_size_c;
inline constexpr std::int32_t kCopySizeA = 136;
inline constexpr std::int32_t kCopySizeB = 88;
inline constexpr std::int32_t kCopySizeC = 28;

// 0 to 32767, from the linear congruential sequence seeded by module_seed.
std::int32_t module_random();

// Fills index_table, long_records and short_records from the current seed.
void fill_work_tables();
void set_copy_sizes();
