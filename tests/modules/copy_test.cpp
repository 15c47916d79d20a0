// The data copy step against an independent model of its definition: word
// copies in ascending address order, in the stated order of fragments.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "driver/work_unit.h"
#include "workload/workload.h"
#include "modules/copy/copy.h"
#include "modules/database/database.h"

namespace {

struct Tables {
    std::vector<unsigned char> L = std::vector<unsigned char>(sizeof long_records);
    std::vector<unsigned char> S = std::vector<unsigned char>(sizeof short_records);
};

// n / 4 four-byte words, then n mod 4 bytes, each read just before it is
// written: exactly what an overlapping ascending copy does.
void ascending_copy(unsigned char* to, const unsigned char* from, int n) {
    int i = 0;
    for (; i + 4 <= n; i += 4) {
        unsigned char word[4];
        std::memcpy(word, from + i, 4);
        std::memcpy(to + i, word, 4);
    }
    for (; i < n; ++i) to[i] = from[i];
}

struct Model {
    Tables t;
    int ring = 4;
    int counter = 0;

    unsigned char* at(std::vector<unsigned char>& table, int record, int offset) {
        return table.data() + record * 272 + offset;
    }

    void step(int calls_left) {
        const int* T = index_table;
        const int p = ring;
        int k = p + 3;
        if (k >= 350) k -= 342;
        auto& L = t.L;
        auto& S = t.S;
        ascending_copy(at(L, T[k], 0), at(L, k - 1, 0), 136);
        std::memcpy(at(L, k, 240), at(S, p, 240), 4);
        ascending_copy(at(L, k + 1, 0), at(L, T[k - 1], 64), 88);
        ascending_copy(at(L, T[k + 2], 0), at(L, T[k - 2], 192), 28);
        ascending_copy(at(L, k + 1, 0), at(L, T[k - 2], 64), 88);
        ascending_copy(at(L, k + 3, 192), at(L, k - 4, 192), 28);
        ascending_copy(at(L, k + 1, 0), at(L, p, 0), 88);
        ascending_copy(at(S, k - 4, 0), at(L, p, 0), 136);
        if (counter == 51) ascending_copy(at(S, k - 4, 0), at(L, p, 0), 816);
        if (counter == 33 || counter == 77) ascending_copy(at(S, k - 4, 0), at(L, p, 0), 544);
        ring = p + 13;
        if (ring >= 350) ring = calls_left % 17 + 4;
        counter = (counter + 1) % 100;
    }
};

class CopyStep : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(setup_workload(), 0);
        copy_call_counter = 0;
        copy_ring_pos = 4;
        copy_calls_left = kCopyStepsPerUnit;
    }
    void TearDown() override { db_release(); }

    void call() {
        copy_step();
        --copy_calls_left;
    }
};

}  // namespace

TEST_F(CopyStep, MatchesTheModelOverTwoWholeUnits) {
    Model model;
    std::memcpy(model.t.L.data(), long_records, sizeof long_records);
    std::memcpy(model.t.S.data(), short_records, sizeof short_records);
    for (int unit = 0; unit < 2; ++unit) {
        copy_call_counter = 0;
        copy_ring_pos = 4;
        model.ring = 4;
        model.counter = 0;
        for (copy_calls_left = kCopyStepsPerUnit; copy_calls_left > 0; --copy_calls_left) {
            model.step(copy_calls_left);
            copy_step();
            ASSERT_EQ(copy_ring_pos, model.ring);
        }
        ASSERT_EQ(std::memcmp(model.t.L.data(), long_records, sizeof long_records), 0) << "unit " << unit;
        ASSERT_EQ(std::memcmp(model.t.S.data(), short_records, sizeof short_records), 0) << "unit " << unit;
    }
}

TEST_F(CopyStep, FirstCallOfAUnit) {
    WorkRecord l4, l6, s4;
    std::memcpy(&l4, &long_records[4], sizeof l4);
    std::memcpy(&l6, &long_records[6], sizeof l6);
    std::memcpy(&s4, &short_records[4], sizeof s4);
    const int t7 = index_table[7];
    call();
    EXPECT_EQ(copy_ring_pos, 17);
    EXPECT_EQ(copy_call_counter, 1);
    EXPECT_EQ(long_records[7].category, s4.category);
    // L[8] was written three times; the last write, from L[4], wins.
    EXPECT_EQ(std::memcmp(long_records[8].text1, l4.text1, 64), 0);
    EXPECT_EQ(std::memcmp(long_records[8].text2, l4.text2, 24), 0);
    // 136 bytes of L[4] onto S[3].
    EXPECT_EQ(std::memcmp(&short_records[3], &l4, 136), 0);
    // L[6] onto L[T[7]], unless a later fragment of the same call landed there.
    if (t7 != 8 && t7 != index_table[9]) {
        EXPECT_EQ(std::memcmp(&long_records[t7], &l6, 136), 0);
    }
}

TEST_F(CopyStep, RingPositionsWrapAsTheCallsLeftSay) {
    std::vector<int> positions;
    int wraps = 0;
    for (int i = 0; i < kCopyStepsPerUnit; ++i) {
        positions.push_back(copy_ring_pos);
        const int before = copy_ring_pos;
        call();
        if (copy_ring_pos < before) ++wraps;
    }
    for (int i = 0; i < 27; ++i) EXPECT_EQ(positions[i], 4 + 13 * i);
    EXPECT_EQ(positions[27], 4);   // 2975 calls left, 2975 mod 17 = 0
    EXPECT_EQ(positions[54], 11);  // 2948 mod 17 + 4
    EXPECT_EQ(wraps, 113);
    EXPECT_EQ(positions[33], 82);
    EXPECT_EQ(positions[51], 316);
    EXPECT_EQ(positions[133], 347);
    for (int p : positions) {
        ASSERT_GE(p, 4);
        ASSERT_LE(p, 349);
    }
}

TEST_F(CopyStep, BlockCopiesOfTwoAndThreeRecords) {
    for (int i = 0; i < 33; ++i) call();
    ASSERT_EQ(copy_call_counter, 33);
    ASSERT_EQ(copy_ring_pos, 82);
    WorkRecord s83;
    std::memcpy(&s83, &short_records[83], sizeof s83);
    call();  // p = 82, k = 85: L[82..83] onto S[81..82]
    EXPECT_EQ(std::memcmp(&short_records[81], &long_records[82], 544), 0);
    EXPECT_EQ(std::memcmp(&short_records[83], &s83, sizeof s83), 0);

    for (int i = 34; i < 51; ++i) call();
    ASSERT_EQ(copy_ring_pos, 316);
    call();  // counter 51: L[316..318] onto S[315..317]
    EXPECT_EQ(std::memcmp(&short_records[315], &long_records[316], 816), 0);

    for (int i = 52; i < 133; ++i) call();
    ASSERT_EQ(copy_call_counter, 33);
    ASSERT_EQ(copy_ring_pos, 347);
    call();  // k wraps to 8: L[347..348] onto S[4..5]
    EXPECT_EQ(std::memcmp(&short_records[4], &long_records[347], 544), 0);
}

TEST_F(CopyStep, LastCallOfAUnitWrapsToFive) {
    copy_calls_left = 1;
    copy_ring_pos = 342;
    copy_step();
    EXPECT_EQ(copy_ring_pos, 5);
}
