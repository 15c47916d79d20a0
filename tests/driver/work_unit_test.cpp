// The set-up of a run and the work unit's bookkeeping.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "driver/work_unit.h"
#include "modules/copy/copy.h"
#include "modules/database/database.h"
#include "modules/dates/dates.h"
#include "modules/library/library.h"
#include "modules/words/words.h"
#include "workload/workload.h"

namespace {

class SetUpTables : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(setup_workload(), 0); }
    void TearDown() override { db_release(); }
};

}  // namespace

TEST_F(SetUpTables, SetUpRewritesWhatItOwnsAndKeepsTheRest) {
    const auto long_copy = std::make_unique<WorkRecord[]>(kRecordCount);
    const auto short_copy = std::make_unique<WorkRecord[]>(kRecordCount);
    std::int32_t index_copy[kRecordCount];
    std::memcpy(long_copy.get(), long_records, sizeof long_records);
    std::memcpy(short_copy.get(), short_records, sizeof short_records);
    std::memcpy(index_copy, index_table, sizeof index_table);

    // Scribble over what the set-up writes and over what it must leave.
    for (int r = 0; r < kRecordCount; ++r) {
        std::memset(&long_records[r], 0x5A, 244);
        std::memset(&short_records[r], 0x5A, 244);
        long_records[r].year = 1000 + r;
        short_records[r].vowel_base = r;
    }
    std::memset(index_table, 0, sizeof index_table);
    db_release();
    ASSERT_EQ(setup_workload(), 0);

    EXPECT_EQ(std::memcmp(index_copy, index_table, sizeof index_table), 0);
    for (int r = 0; r < kRecordCount; ++r) {
        const WorkRecord& rec = long_records[r];
        ASSERT_EQ(std::strcmp(rec.text1, long_copy[r].text1), 0);
        ASSERT_EQ(std::strcmp(rec.text2, long_copy[r].text2), 0);
        ASSERT_EQ(std::strcmp(rec.word, long_copy[r].word), 0);
        ASSERT_EQ(std::strcmp(rec.expression, long_copy[r].expression), 0);
        ASSERT_EQ(std::memcmp(&rec.offset, &long_copy[r].offset, 20), 0);
        ASSERT_EQ(std::strcmp(short_records[r].text1, short_copy[r].text1), 0);
        // Bytes after a text's NUL and the fields from offset 244 on carry over.
        const std::size_t n2 = std::strlen(rec.text2);
        if (n2 + 1 < sizeof rec.text2) {
            ASSERT_EQ(static_cast<unsigned char>(rec.text2[n2 + 1]), 0x5A) << r;
        }
        ASSERT_EQ(rec.year, 1000 + r);
        ASSERT_EQ(short_records[r].vowel_base, r);
    }
    EXPECT_EQ(copy_size_a, 136);
    EXPECT_EQ(copy_size_b, 88);
    EXPECT_EQ(copy_size_c, 28);
    EXPECT_EQ(database_limit, 8);
    EXPECT_EQ(module_seed, 7);
}

TEST_F(SetUpTables, WorkUnitResetsItsStateAndCountsTheCopyCallsDown) {
    base_year = 1;
    library_cursor = 3;
    go_intern = 99;
    word_phase = 5;
    run_work_unit();
    EXPECT_EQ(copy_calls_left, 0);
    EXPECT_EQ(copy_call_counter, 3001 % 100);
    EXPECT_EQ(go_intern, 0);
    EXPECT_EQ(base_month, 4);
    EXPECT_EQ(base_day, 6);
    EXPECT_EQ(base_hour, 6);
    EXPECT_EQ(base_minute, 2);
}
