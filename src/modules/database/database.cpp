// The database store: the table of one run, its fill, its sort and its
// release.
#include "modules/database/database.h"

#include <cstdlib>
#include <cstring>

#include "workload/workload.h"
#include "workload/report_error.h"

DbRecord* db_table = nullptr;
DbRecord* selection_buffer = nullptr;
DbRecord* flagged_buffer = nullptr;

void* db_zeroed_block(std::size_t bytes) { return std::calloc(1, bytes); }
DbAllocator db_allocator = db_zeroed_block;

namespace {

// Room for slot 0 and the 1000 records, and one byte beyond them.
constexpr std::size_t kTableBytes = kDbSlots * sizeof(DbRecord) + 1;

constexpr std::int32_t kBuckets = 100;
constexpr std::int32_t kNameLengths = 19;
constexpr std::int32_t kTextLengths = 74;
constexpr int kCodeDigits = 9;

void fill_letters(char* field, std::int32_t lengths) {
    const std::int32_t length = module_random() % lengths + 1;
    for (std::int32_t i = 0; i < length; ++i) field[i] = static_cast<char>('A' + module_random() % 26);
    field[length] = '\0';
}

void free_block(DbRecord*& block) {
    std::free(block);
    block = nullptr;
}

}  // namespace

void db_fill_record(std::int32_t a, DbRecord* slot) {
    // Calls back into the base: the table is drawn from the run's one random sequence, reseeded to 7.
    // The draws come in field order; their sequence is part of the table's
    // definition, so nothing may draw in between.
    slot->bucket = module_random() % kBuckets;
    slot->value1 = module_random() * 121;
    slot->value2 = module_random() * 123;
    slot->value3 = module_random() * 127;
    slot->id = a;
    slot->countdown = 1000 - a;
    slot->flag = a % 20 == 0 ? '1' : '0';
    slot->digit = static_cast<char>('0' + a % 10);
    fill_letters(slot->name, kNameLengths);
    fill_letters(slot->text, kTextLengths);
    for (int i = 0; i < kCodeDigits; ++i) slot->code[i] = static_cast<char>('0' + module_random() % 10);
    slot->code[kCodeDigits] = '\0';
}

// Both records come by value, as the sort's cost is meant to be dominated by
// whole-record copies; kept out of line so the copies stay.
[[gnu::noinline]] std::int32_t db_compare(DbRecord left, DbRecord right, std::int32_t mode) {
    switch (mode) {
        case 1:
            // Bounded by the field, so a name without its NUL cannot run on.
            return std::strncmp(left.name, right.name, sizeof left.name);
        case 2:
            return left.bucket > right.bucket ? 1 : 0;
        case 3:
            return left.id > right.id ? 1 : 0;
        default:
            return 0;
    }
}

void db_sort(DbRecord* table, std::int32_t mode, std::int32_t first, std::int32_t n) {
    // Element k of the sort is slot first + k - 1.
    auto element = [table, first](std::int32_t k) -> DbRecord& { return table[first + k - 1]; };
    std::int32_t h = 1;
    while (n / 9 >= h) h = 3 * h + 1;
    for (; h > 0; h /= 3) {
        for (std::int32_t i = h + 1; i <= n; ++i) {
            const DbRecord moving = element(i);
            std::int32_t j = i;
            while (j > h && db_compare(element(j - h), moving, mode) > 0) {
                element(j) = element(j - h);
                j -= h;
            }
            element(j) = moving;
        }
    }
}

std::int32_t db_setup() {
    // Calls back into the base: the copy sizes belong to the run's set-up, of which this is a part.
    set_copy_sizes();
    // A set-up repeated without the release in between must not leak the
    // blocks of the earlier one; after a release this frees nothing.
    db_release();

    db_table = static_cast<DbRecord*>(db_allocator(kTableBytes));
    if (db_table == nullptr) report_error("Database test - ALLOCERROR");

    for (std::int32_t a = 0; a < kDbRecords; ++a) db_fill_record(a, &db_table[a + 1]);
    db_sort(db_table, 2, 1, kDbRecords);
    return 0;
}

void db_release() {
    free_block(db_table);
    free_block(selection_buffer);
    free_block(flagged_buffer);
}
