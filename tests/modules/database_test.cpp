// The database table, its sort, and the step's report and selections.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <set>
#include <vector>

#include "driver/work_unit.h"
#include "workload/workload.h"
#include "modules/database/database.h"
#include "shell/shell.h"
#include "support/death_tests.h"
#include "support/test_support.h"

namespace {

// Every test starts from a freshly built table of a first run.
class Database : public testing::Test {
protected:
    void SetUp() override {
        db_allocator = db_zeroed_block;
        ASSERT_EQ(setup_workload(), 0);
    }
    void TearDown() override { db_release(); }
};

void clear_mix() { mix1 = mix2 = mix3 = mix4 = mix5 = mix6 = mix7 = mix8 = mix9 = 0; }

DbRecord record_with(std::int32_t id, std::int32_t bucket, const char* name) {
    DbRecord r{};
    r.id = id;
    r.bucket = bucket;
    std::strncpy(r.name, name, sizeof r.name - 1);
    return r;
}

std::vector<std::int32_t> ids(const DbRecord* slots, int first, int count) {
    std::vector<std::int32_t> out;
    for (int s = first; s < first + count; ++s) out.push_back(slots[s].id);
    return out;
}

// Fails only for blocks of one size, so one buffer can be made to fail.
std::size_t failing_size;
void* fail_one_size(std::size_t bytes) { return bytes == failing_size ? nullptr : db_zeroed_block(bytes); }

int blocks_made;
void* count_blocks(std::size_t bytes) {
    ++blocks_made;
    return db_zeroed_block(bytes);
}

// The error path as a user sees it: no result file, no output file.
[[noreturn]] void step_expecting_death() {
    reset_shell_settings();
    database_step();
    std::exit(0);
}

}  // namespace

// ---- The table after set-up -------------------------------------------------

TEST_F(Database, SetUpSortsByBucketAndHoldsEveryIdOnce) {
    const DbRecord zero{};
    EXPECT_EQ(std::memcmp(&db_table[0], &zero, sizeof zero), 0) << "slot 0 must read as zeros";

    std::set<std::int32_t> seen_ids, buckets;
    for (int s = 1; s <= kDbRecords; ++s) {
        const DbRecord& r = db_table[s];
        EXPECT_LE(db_table[s - 1].bucket, r.bucket) << "slot " << s;  // slot 0 reads bucket 0
        EXPECT_TRUE(seen_ids.insert(r.id).second) << "id " << r.id << " twice";
        buckets.insert(r.bucket);
        EXPECT_EQ(r.countdown, 1000 - r.id);
        EXPECT_EQ(r.flag, r.id % 20 == 0 ? '1' : '0');
        EXPECT_EQ(r.digit, '0' + r.id % 10);
        EXPECT_EQ(r.value1 % 121, 0);
        EXPECT_EQ(r.value3 % 127, 0);
        const std::size_t name = strnlen(r.name, sizeof r.name);
        const std::size_t text = strnlen(r.text, sizeof r.text);
        EXPECT_TRUE(name >= 1 && name <= 19 && text >= 1 && text <= 74);
        EXPECT_EQ(strnlen(r.code, sizeof r.code), 9u);
        EXPECT_EQ(std::memcmp(r.spare, zero.spare, sizeof r.spare), 0);
    }
    EXPECT_EQ(seen_ids.size(), 1000u);
    EXPECT_EQ(*seen_ids.begin(), 0);
    EXPECT_EQ(*seen_ids.rbegin(), 999);
    EXPECT_EQ(buckets.size(), 100u);

    EXPECT_EQ(db_table[1].id, 250);
    EXPECT_EQ(db_table[1].bucket, 0);
    EXPECT_EQ(db_table[1].value2, 678468);
    EXPECT_EQ(copy_size_a, 136);
}

TEST_F(Database, EverySetUpBuildsTheSameTableWithoutBuffers) {
    ASSERT_EQ(database_step(), 0);
    std::vector<DbRecord> first(db_table, db_table + kDbSlots);
    ASSERT_EQ(db_setup(), 0);  // without a release in between: the old blocks go
    EXPECT_EQ(selection_buffer, nullptr);
    EXPECT_EQ(flagged_buffer, nullptr);
    EXPECT_EQ(std::memcmp(first.data(), db_table, kDbSlots * sizeof(DbRecord)), 0);

    db_release();
    EXPECT_EQ(db_table, nullptr);
    db_release();  // a second release finds nothing to free
}

// ---- Sort and comparison ------------------------------------------------------

TEST(DatabaseSort, ComparisonModes) {
    const DbRecord a = record_with(5, 9, "ABC");
    const DbRecord b = record_with(7, 3, "ABD");
    EXPECT_LT(db_compare(a, b, 1), 0);
    EXPECT_GT(db_compare(b, a, 1), 0);
    EXPECT_EQ(db_compare(a, b, 2), 1);
    EXPECT_EQ(db_compare(b, a, 2), 0);  // 0, never negative
    EXPECT_EQ(db_compare(b, a, 3), 1);
    EXPECT_EQ(db_compare(a, a, 3), 0);
    for (std::int32_t mode : {0, 4, -1}) EXPECT_EQ(db_compare(b, a, mode), 0);
}

TEST(DatabaseSort, SortsOnlyItsSlotsAndKeepsEqualKeysInOrderBelowNine) {
    // Slots 2..9 (n = 8, plain insertion sort) between guard slots that
    // would move if the sort touched them.
    const std::int32_t buckets[11] = {99, 7, 3, 5, 1, 3, 5, 0, 2, -1, -5};
    DbRecord slots[11];
    for (int s = 0; s < 11; ++s) slots[s] = record_with(s, buckets[s], "");
    const std::vector<std::int32_t> sorted{0, 1, 9, 7, 4, 8, 2, 5, 3, 6, 10};
    db_sort(slots, 2, 2, 8);
    EXPECT_EQ(ids(slots, 0, 11), sorted);

    db_sort(slots, 4, 0, 11);  // unknown mode: nothing moves
    EXPECT_EQ(ids(slots, 0, 11), sorted);
    db_sort(slots, 1, 0, 11);  // all names empty, so all equal
    EXPECT_EQ(ids(slots, 0, 11), sorted);
    db_sort(slots, 2, 0, 1);
    db_sort(slots, 2, 0, 0);
    EXPECT_EQ(ids(slots, 0, 11), sorted);
}

TEST(DatabaseSort, LargerSortsUseEveryGap) {
    // 50 records in reverse order of id and shuffled names: every gap of the
    // sequence has work to do, and whole records travel.
    std::vector<DbRecord> slots(51);
    for (int s = 1; s <= 50; ++s) {
        slots[s] = record_with(1000 - 20 * s, 0, "");
        slots[s].name[0] = static_cast<char>('A' + (s * 7) % 26);
        slots[s].name[1] = static_cast<char>('A' + s % 26);
        slots[s].value2 = 3 * slots[s].id;
    }
    db_sort(slots.data(), 3, 1, 50);
    for (int s = 1; s <= 50; ++s) {
        EXPECT_EQ(slots[s].id, 20 * (s - 1));
        EXPECT_EQ(slots[s].value2, 3 * slots[s].id);
    }
    db_sort(slots.data(), 1, 1, 50);
    for (int s = 2; s <= 50; ++s) EXPECT_LE(std::strcmp(slots[s - 1].name, slots[s].name), 0);
}

// ---- The step -----------------------------------------------------------------

TEST_F(Database, ReferenceRunComesOutToTheLastDigitTwice) {
    clear_mix();
    for (int step = 1; step <= 2; ++step) {
        SCOPED_TRACE(step);
        ASSERT_EQ(database_step(), 0);
        EXPECT_EQ(group_key, 99);
        EXPECT_EQ(group_sum_a, 27066273);
        EXPECT_EQ(group_sum_b, 27066273);
        EXPECT_EQ(group_low_count, 0);
        EXPECT_EQ(group_min, 688185);
        EXPECT_EQ(group_max, 3655068);
        EXPECT_EQ(total_sum, 197826804);
        EXPECT_EQ(total_high_count, 100);
        EXPECT_EQ(overall_min, 6027);
        EXPECT_EQ(overall_max, 3898608);
        EXPECT_EQ(final_max, 3898608);
        EXPECT_EQ(anchor, 678468);
        const std::int32_t mix[9] = {mix1, mix2, mix3, mix4, mix5, mix6, mix7, mix8, mix9};
        const std::int32_t expected[9] = {284529380, 284529416, -558393789, 864253319, 8,
                                          -1422647108, 676465684, 720067794, -720067627};
        for (int i = 0; i < 9; ++i) EXPECT_EQ(mix[i], expected[i]) << "mix" << i + 1;
    }
}

TEST_F(Database, SelectionsHoldTheDigitAndFlagRecordsAndTheirBuffersStay) {
    ASSERT_EQ(database_step(), 0);
    std::vector<std::int32_t> digit_ones;
    for (int s = 1; s <= kDbRecords; ++s) {
        if (db_table[s].digit == '1') digit_ones.push_back(db_table[s].id);
    }
    ASSERT_EQ(digit_ones.size(), 100u);
    EXPECT_EQ(ids(selection_buffer, 1, 100), digit_ones);
    for (int s = 1; s <= 50; ++s) {
        EXPECT_EQ(flagged_buffer[s].id, 20 * (s - 1));
        EXPECT_EQ(flagged_buffer[s].countdown, 1000 - flagged_buffer[s].id) << "whole record copied";
    }

    DbRecord* const selection = selection_buffer;
    DbRecord* const flagged = flagged_buffer;
    ASSERT_EQ(database_step(), 0);
    EXPECT_EQ(selection_buffer, selection);
    EXPECT_EQ(flagged_buffer, flagged);
}

TEST_F(Database, OnlyTheFirstStepOfARunAllocates) {
    blocks_made = 0;
    db_allocator = count_blocks;
    database_step();
    EXPECT_EQ(blocks_made, 2);
    database_step();
    run_work_unit();
    EXPECT_EQ(blocks_made, 2);
    db_allocator = db_zeroed_block;
}

TEST_F(Database, MixLoopFollowsTheLimit) {
    database_limit = 0;
    db_mix(1, db_table[500]);
    EXPECT_EQ(mix5, 0);
    database_limit = 8;
    db_mix(1, db_table[500]);
    EXPECT_EQ(mix5, 8);
}

TEST_F(Database, GroupQueriesStartFromTheirOwnValues) {
    // A last group of negative values: the minimum starts from the group's
    // first value, the maximum from 0; the group ends at slot 1000.
    const std::int32_t value2[3] = {-5, -7, -3};
    const std::int32_t value1[3] = {5, 2000, 1000};
    for (int k = 0; k < 3; ++k) {
        db_table[998 + k].bucket = 200;
        db_table[998 + k].value2 = value2[k];
        db_table[998 + k].value1 = value1[k];
    }
    EXPECT_EQ(db_query::group_sum(998), -15);
    EXPECT_EQ(db_query::group_low_count(998), 2);
    EXPECT_EQ(db_query::group_min(998), -7);
    EXPECT_EQ(db_query::group_max(998), 0);
    EXPECT_EQ(db_query::group_sum(1000), -3);
    ASSERT_EQ(database_step(), 0);
    EXPECT_EQ(group_key, 200);
    EXPECT_EQ(group_sum_a, -15);
    EXPECT_EQ(group_min, -7);
    EXPECT_EQ(group_max, 0);
}

TEST_F(Database, RangeMinimumOfZeroOrLessIsReplacedByTheNext) {
    // Range j (slots 100j+1 .. 100j+10) holds 1000 + 10j .. 1000 + 10j + 6;
    // the first range gets a minimum of 0.
    for (int j = 0; j < 10; ++j) {
        for (int s = 100 * j + 1; s <= 100 * j + 10; ++s) db_table[s].value2 = 1000 + 10 * j + s % 7;
    }
    db_table[5].value2 = 0;
    ASSERT_EQ(database_step(), 0);
    EXPECT_EQ(overall_min, 1010);
    EXPECT_EQ(final_max, 1096);

    db_table[5].value2 = 3;  // a positive minimum is kept
    ASSERT_EQ(database_step(), 0);
    EXPECT_EQ(overall_min, 3);
}

// ---- Failures -----------------------------------------------------------------

using DatabaseDeathTest = DeathTestOf<Database>;

TEST_F(DatabaseDeathTest, SelectionsTakeOneRecordMoreThanTheyReportButNoMore) {
    // The buffers have a spare slot: 101 digit and 51 flag records still fit.
    for (int s = 1; s <= kDbRecords; ++s) {
        db_table[s].digit = s <= 101 ? '1' : '0';
        db_table[s].flag = s > 949 ? '1' : '0';
    }
    ASSERT_EQ(database_step(), 0);
    EXPECT_EQ(selection_buffer[101].id, db_table[101].id);

    db_table[102].digit = '1';
    EXPECT_EXIT(step_expecting_death(), testing::ExitedWithCode(255), "Database test - SIZEERROR");
    db_table[102].digit = '0';
    db_table[949].flag = '1';
    EXPECT_EXIT(step_expecting_death(), testing::ExitedWithCode(255), "Database test - SIZEERROR");
}

TEST_F(DatabaseDeathTest, AllocationFailuresAreReportedForEveryBlock) {
    failing_size = kSelectionSlots * sizeof(DbRecord);
    EXPECT_EXIT((db_allocator = fail_one_size, step_expecting_death()), testing::ExitedWithCode(255),
                "Database test - ALLOCERROR");
    // The flagged buffer is the last block a run makes: its failure, too,
    // ends the run instead of leaving the step's work undone.
    failing_size = kFlaggedSlots * sizeof(DbRecord);
    EXPECT_EXIT((db_allocator = fail_one_size, step_expecting_death()), testing::ExitedWithCode(255),
                "Database test - ALLOCERROR");
    failing_size = kDbSlots * sizeof(DbRecord) + 1;
    EXPECT_EXIT((db_allocator = fail_one_size, reset_shell_settings(), db_setup()), testing::ExitedWithCode(255),
                "Database test - ALLOCERROR");
}
