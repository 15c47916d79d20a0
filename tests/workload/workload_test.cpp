// The workload base: random sequence and table fill. The values pinned here
// define the workload's data.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "workload/workload.h"

namespace {

std::string text_of(const char* field) { return std::string(field); }

}  // namespace

TEST(ModuleRandom, SequenceFromSevenDividesRatherThanShifts) {
    module_seed = 7;
    const std::int32_t expected[] = {19565, 9806, 10868, 22674, 32531, 3366, 32034, 31790};
    for (std::int32_t value : expected) EXPECT_EQ(module_random(), value);
}

TEST(ModuleRandom, StaysInRangeAndWrapsWithoutOverflowTrap) {
    module_seed = INT32_MIN;
    for (int i = 0; i < 100000; ++i) {
        const std::int32_t v = module_random();
        ASSERT_GE(v, 0);
        ASSERT_LE(v, 32767);
    }
}

// The tables as a run's set-up fills them: from seed 7.
class FilledTables : public ::testing::Test {
protected:
    void SetUp() override {
        module_seed = 7;
        fill_work_tables();
    }
};

TEST_F(FilledTables, IndexTableStartsAsDrawnAndScalesAllButEverySixteenth) {
    const std::int32_t head[] = {665, 1, 92, 68, 82, 141};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(index_table[i], head[i]) << i;
    EXPECT_EQ(index_table[16], 185);
    for (int i = 0; i < kRecordCount; ++i) {
        EXPECT_GE(index_table[i], 0);
        EXPECT_LE(index_table[i], i % 16 == 0 ? 699 : 174) << i;
    }
}

TEST_F(FilledTables, FirstLongRecordsHoldTheDrawnFields) {
    const WorkRecord& r0 = long_records[0];
    EXPECT_EQ(std::strlen(r0.text1), 59u);
    EXPECT_EQ(static_cast<unsigned char>(r0.text1[0]), 0x36);
    EXPECT_EQ(static_cast<unsigned char>(r0.text1[1]), 0x24);
    EXPECT_EQ(static_cast<unsigned char>(r0.text1[2]), 0x52);
    EXPECT_EQ(static_cast<unsigned char>(r0.text1[3]), 0x27);
    EXPECT_EQ(std::strlen(r0.text2), 109u);
    EXPECT_EQ(text_of(r0.word), "'jigs");
    EXPECT_EQ(text_of(r0.expression), "3+(4*5-17)");
    EXPECT_EQ(r0.offset, 85);
    EXPECT_EQ(r0.amount, 210);
    EXPECT_EQ(r0.link, 593);
    EXPECT_EQ(r0.selector, 82);
    EXPECT_EQ(r0.category, 3);

    const WorkRecord& r1 = long_records[1];
    EXPECT_EQ(std::strlen(r1.text1), 60u);
    EXPECT_EQ(std::strlen(r1.text2), 109u);
    EXPECT_EQ(text_of(r1.word), "tshogs");
    EXPECT_EQ(text_of(r1.expression), "1+27/7+43+2+3");
    EXPECT_EQ(r1.offset, -109);
    EXPECT_EQ(r1.amount, 320);
    EXPECT_EQ(r1.link, 460);
    EXPECT_EQ(r1.selector, 67);
    EXPECT_EQ(r1.category, 6);
}

TEST_F(FilledTables, EveryRecordStaysWithinItsRanges) {
    for (int r = 0; r < kRecordCount; ++r) {
        for (int table = 0; table < 2; ++table) {
            const WorkRecord& rec = table == 0 ? long_records[r] : short_records[r];
            const std::size_t n1 = std::strlen(rec.text1);
            const std::size_t n2 = std::strlen(rec.text2);
            if (table == 0) {
                ASSERT_TRUE(n1 >= 54 && n1 <= 63) << r;
                ASSERT_TRUE(n2 >= 107 && n2 <= 111) << r;
            } else {
                ASSERT_TRUE(n1 >= 20 && n1 <= 29) << r;
                ASSERT_TRUE(n2 >= 9 && n2 <= 13) << r;
            }
            for (std::size_t i = 0; i < n1; ++i) {
                const unsigned char c = static_cast<unsigned char>(rec.text1[i]);
                ASSERT_TRUE(c >= 28 && c <= 87) << r;
            }
            ASSERT_TRUE(rec.offset >= -110 && rec.offset <= 110);
            ASSERT_TRUE(rec.amount >= 1 && rec.amount <= 1000);
            ASSERT_TRUE(rec.link >= 1 && rec.link <= 699);
            ASSERT_TRUE(rec.selector >= 1 && rec.selector <= 108);
            ASSERT_TRUE(rec.category >= 1 && rec.category <= 6);
        }
    }
}

TEST_F(FilledTables, ShortListsUseExtendedLettersWhereTheLongOnesDoNot) {
    // Every short record's word and expression belongs to the short lists:
    // somewhere in 700 draws of 31 entries the extended spellings appear.
    bool saw_extended = false;
    for (int r = 0; r < kRecordCount; ++r) {
        for (const char* p = short_records[r].word; *p != '\0'; ++p) {
            if (static_cast<unsigned char>(*p) >= 128) saw_extended = true;
        }
        for (const char* p = long_records[r].word; *p != '\0'; ++p) {
            ASSERT_LT(static_cast<unsigned char>(*p), 128) << r;
        }
    }
    EXPECT_TRUE(saw_extended);
}
