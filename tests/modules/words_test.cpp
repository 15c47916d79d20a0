// Word analysis module: the syllable analyser copies and the word step.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "driver/work_unit.h"
#include "workload/workload.h"
#include "modules/database/database.h"
#include "modules/words/syllable_analyser.h"
#include "modules/words/words.h"
#include "support/death_tests.h"

namespace {

// The word step never reaches the last records (its largest index is 696).
constexpr std::int32_t kScratchRecord = 699;

template <typename F, int... Index>
void for_each_copy_of(F& f, std::integer_sequence<int, Index...>) {
    (f.template operator()<Index + 1>(), ...);
}

// Calls f.template operator()<Copy>() for every copy, 1 to 24.
template <typename F>
void for_each_copy(F&& f) {
    for_each_copy_of(f, std::make_integer_sequence<int, kAnalyserCopies>{});
}

void put_word(const char* text, std::int32_t record = kScratchRecord) {
    char* const word = long_records[record].word;
    std::memset(word, 0, sizeof long_records[record].word);
    std::memcpy(word, text, std::strlen(text));
}

template <int Copy>
const SyllableResult& analyse_text(const char* text, std::int32_t record = kScratchRecord) {
    put_word(text, record);
    SyllableAnalyser<Copy>::analyse_syllable(record);
    return SyllableAnalyser<Copy>::result;
}

template <int Copy>
std::vector<int> translit_codes_of() {
    const unsigned char* const codes = SyllableAnalyser<Copy>::translit_codes;
    return std::vector<int>(codes, codes + kTranslitCodesSize);
}

// The expected codes followed by zeros up to the 16 bytes.
std::vector<int> codes(std::vector<int> leading) {
    leading.resize(kTranslitCodesSize, 0);
    return leading;
}

class WordModule : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(setup_workload(), 0); }
    void TearDown() override { db_release(); }
};

struct Analysis {
    const char* text;
    std::int32_t prefix, superscript, root, subscript, subscript2, vowel, vowel2, vowel3, suffix, post_suffix;
};

// Each follows one that fills more positions, so a field left over from the
// previous analysis of the same copy shows.
const Analysis kWellFormed[] = {
    {"bsgrubs", 22, 38, 3, 34, 0, 132, 0, 0, 22, 38},
    {"spre'u'i", 0, 38, 20, 34, 0, 133, 132, 130, 0, 0},
    {"tshogs", 0, 0, 26, 0, 0, 135, 0, 0, 3, 38},
    {"mtshubs", 24, 0, 26, 0, 0, 132, 0, 0, 22, 38},
    {"bshogs", 22, 0, 36, 0, 0, 135, 0, 0, 3, 38},
    {"gshongs", 3, 0, 36, 0, 0, 135, 0, 0, 5, 38},
    {"klod", 0, 0, 1, 35, 0, 135, 0, 0, 17, 0},
    {"hrol", 0, 0, 39, 34, 0, 135, 0, 0, 35, 0},
    {"'phyis", 32, 0, 21, 33, 0, 130, 0, 0, 38, 0},
    {"brnyas", 22, 34, 9, 0, 0, 32, 0, 0, 38, 0},
    {"nyi", 0, 0, 9, 0, 0, 130, 0, 0, 0, 0},
    {"gsum", 3, 0, 38, 0, 0, 132, 0, 0, 24, 0},
    {"rwa", 0, 0, 34, 29, 0, 32, 0, 0, 0, 0},
    {"grwa", 0, 0, 3, 34, 29, 32, 0, 0, 0, 0},
    {"lha", 0, 35, 39, 0, 0, 32, 0, 0, 0, 0},
    {"g.yu", 3, 0, 33, 0, 0, 132, 0, 0, 0, 0},
    {"zam", 0, 0, 31, 0, 0, 32, 0, 0, 24, 0},
    {"sangs", 0, 0, 38, 0, 0, 32, 0, 0, 5, 38},
    {"ljin", 0, 35, 8, 0, 0, 130, 0, 0, 19, 0},
    {"mcher", 24, 0, 7, 0, 0, 133, 0, 0, 34, 0},
    {"'dzems", 32, 0, 27, 0, 0, 133, 0, 0, 24, 38},
    {"thems", 0, 0, 16, 0, 0, 133, 0, 0, 24, 38},
    {"gzigs", 3, 0, 31, 0, 0, 130, 0, 0, 3, 38},
    {"khyi", 0, 0, 2, 33, 0, 130, 0, 0, 0, 0},
    {"zhi", 0, 0, 30, 0, 0, 130, 0, 0, 0, 0},
    {"tsa", 0, 0, 25, 0, 0, 32, 0, 0, 0, 0},
    {"a", 0, 0, 40, 0, 0, 32, 0, 0, 0, 0},
};

TEST_F(WordModule, EveryCopyCodesWellFormedSyllables) {
    for_each_copy([]<int Copy>() {
        for (const Analysis& a : kWellFormed) {
            SCOPED_TRACE(std::string(a.text) + " in copy " + std::to_string(Copy));
            const SyllableResult& r = analyse_text<Copy>(a.text);
            EXPECT_EQ(r.done_marker, 1);
            EXPECT_EQ(r.ill_formed, 0);
            EXPECT_EQ(r.prefix, a.prefix);
            EXPECT_EQ(r.superscript, a.superscript);
            EXPECT_EQ(r.root, a.root);
            EXPECT_EQ(r.subscript, a.subscript);
            EXPECT_EQ(r.subscript2, a.subscript2);
            EXPECT_EQ(r.vowel, a.vowel);
            EXPECT_EQ(r.vowel2, a.vowel2);
            EXPECT_EQ(r.vowel3, a.vowel3);
            EXPECT_EQ(r.suffix, a.suffix);
            EXPECT_EQ(r.post_suffix, a.post_suffix);
        }
    });
}

TEST_F(WordModule, EveryWordOfTheLongListIsWellFormed) {
    std::set<std::string> words;
    for (std::int32_t i = 0; i < kRecordCount; ++i) {
        words.insert(long_records[i].word);
        SyllableAnalyser<13>::analyse_syllable(i);
        EXPECT_EQ(SyllableAnalyser<13>::result.done_marker, 1) << long_records[i].word;
    }
    EXPECT_EQ(words.size(), 31u);
}

TEST_F(WordModule, FinishingCopiesRecordFieldsAndTheVowelAddsToTheTotal) {
    long_records[kScratchRecord].link = 321;
    long_records[kScratchRecord].category = 5;
    long_records[kScratchRecord].vowel_base = 1000;
    short_records[kScratchRecord].vowel_total = 20;
    analyse_text<8>("gsum");
    EXPECT_EQ(short_records[kScratchRecord].link, 321);
    EXPECT_EQ(short_records[kScratchRecord].category, 5);
    EXPECT_EQ(long_records[kScratchRecord].vowel_total, 1000 + 20 + 132);

    // The total wraps instead of overflowing.
    long_records[kScratchRecord].vowel_base = INT_MAX;
    short_records[kScratchRecord].vowel_total = 1;
    analyse_text<8>("ka");
    EXPECT_EQ(long_records[kScratchRecord].vowel_total, INT_MIN + 32);
}

// With "r" no longer subjoinable, "bsgrubs" reads root r (34): a wrong coding.
template <int Group>
void break_subjoined_r() {
    LetterClassTable<Group>::subjoinable_letters[1] = 'x';
}

using WordModuleDeathTest = DeathTestOf<WordModule>;

TEST_F(WordModuleDeathTest, OnlyTheFirstGroupChecksTheReferenceSyllable) {
    for_each_copy([]<int Copy>() {
        SCOPED_TRACE("copy " + std::to_string(Copy));
        constexpr int group = analyser_group(Copy);
        if constexpr (group == 1) {
            EXPECT_EXIT(
                {
                    break_subjoined_r<group>();
                    analyse_text<Copy>("bsgrubs");
                },
                testing::ExitedWithCode(255), "ERROR B: in text: bsgrubs");
        } else {
            const unsigned char kept = LetterClassTable<group>::subjoinable_letters[1];
            break_subjoined_r<group>();
            EXPECT_EQ(analyse_text<Copy>("bsgrubs").root, 34);
            LetterClassTable<group>::subjoinable_letters[1] = kept;
        }
    });
}

TEST_F(WordModule, ReferenceCheckComparesTheWholeText) {
    const unsigned char kept = LetterClassTable<1>::subjoinable_letters[1];
    break_subjoined_r<1>();
    EXPECT_EQ(analyse_text<1>("bsgrub").root, 34);
    EXPECT_EQ(analyse_text<6>("bsgrubss").root, 34);
    LetterClassTable<1>::subjoinable_letters[1] = kept;
}

TEST_F(WordModule, IllFormedSyllablesAreTransliterated) {
    const SyllableResult& r = analyse_text<20>("xbyu");
    EXPECT_EQ(r.done_marker, 2);
    EXPECT_EQ(r.ill_formed, 1);
    EXPECT_EQ(r.root, 22);
    EXPECT_EQ(r.subscript, 33);
    EXPECT_EQ(r.vowel, 132);
    EXPECT_EQ(translit_codes_of<20>(), codes({1, 0, 1, 22, 1, 0, 1, 0}));

    analyse_text<20>("xka\x97");
    EXPECT_EQ(translit_codes_of<20>(), codes({1, 0, 1, 1, 2, 0, 218}));

    // Extended-letter words of the short list.
    analyse_text<3>("h\x85\x97");
    EXPECT_EQ(translit_codes_of<3>(), codes({1, 0, 2, 202, 218}));
    analyse_text<9>("\x6B\x9D\x6D\x6C\x81\x97");
    EXPECT_EQ(translit_codes_of<9>(), codes({1, 41, 1, 0, 1, 0, 2, 200, 218}));
    analyse_text<24>("\x6E\x87\x83\x74\x79\x81\x97");
    EXPECT_EQ(translit_codes_of<24>(), codes({1, 19, 1, 203, 1, 201, 1, 15, 1, 0, 2, 200, 218}));

    // A post-suffix other than s, and a letter after the post-suffix.
    EXPECT_EQ(analyse_text<14>("gsumt").ill_formed, 1);
    EXPECT_EQ(analyse_text<14>("gsumsa").ill_formed, 1);
    // A "." prefix needs the g before it.
    EXPECT_EQ(analyse_text<14>(".ya").ill_formed, 1);
}

struct UnitCode {
    const char* text;
    std::int32_t code;
    std::int32_t length;
};

const UnitCode kUnitCodes[] = {
    {"\x81", 200, 1}, {"\x83", 201, 1},   {"\x85", 202, 1},   {"\x87", 203, 1},   {"\x87i", 203, 2},
    {"\x87\xC9", 204, 2}, {"\x89", 204, 1}, {"\x89i", 204, 2}, {"\x89\xC9", 204, 2}, {"\x8B", 205, 1},
    {"\x8D", 206, 1}, {"\x8F", 5, 1},     {"\x91", 10, 1},    {"\x91h", 11, 2},   {"\x93", 12, 1},
    {"\x93h", 13, 2}, {"\x95", 14, 1},    {"\x97", 218, 1},   {"\x99", 36, 1},    {"\x9D", 37, 1},
    {"\xA0", 137, 1}, {"\xA4", 9, 1},     {"t", 15, 1},       {"tsh", 26, 3},     {"ts", 25, 2},
    {"th", 16, 2},    {"p", 20, 1},       {"ph", 21, 2},      {"n", 19, 1},       {"k", 1, 1},
    {"kh", 2, 2},     {"k\x9D", 41, 2},   {"j", 27, 1},       {"jh", 28, 2},      {"g", 3, 1},
    {"gh", 4, 2},     {"d", 17, 1},       {"dzh", 28, 3},     {"dz", 27, 2},      {"dh", 18, 2},
    {"c", 25, 1},     {"ch", 26, 2},      {"b", 22, 1},       {"bh", 23, 2},      {".", 255, 1},
    {"'", 32, 1},     {"x", 0, 1},        {"\xFF", 0, 1},     {"", 0, 1},
};

TEST_F(WordModule, EveryCopyKnowsTheExtendedLetters) {
    for_each_copy([]<int Copy>() {
        for (const UnitCode& u : kUnitCodes) {
            SCOPED_TRACE("copy " + std::to_string(Copy) + ", unit of " + std::to_string(std::strlen(u.text)));
            std::memset(syllable_buffer, 0, kSyllableBufferSize);
            std::memcpy(syllable_buffer, u.text, std::strlen(u.text));
            EXPECT_EQ(SyllableAnalyser<Copy>::translit_code(0), u.code) << u.text;
            EXPECT_EQ(SyllableAnalyser<Copy>::translit_length, u.length) << u.text;
        }
    });
}

// Stale letters after the syllable's NUL in the shared buffer: a read past
// the end would find the vowel a, or a suffix.
void fill_buffer_with_stale_letters() { std::memset(syllable_buffer, 'a', kSyllableBufferSize); }

TEST_F(WordModule, AnalysisNeverReadsPastTheEndOfTheText) {
    fill_buffer_with_stale_letters();
    const SyllableResult& r = analyse_text<2>("bcd");
    EXPECT_EQ(r.ill_formed, 1);
    EXPECT_EQ(r.vowel, 0);
    EXPECT_EQ(translit_codes_of<2>(), codes({1, 22, 1, 25, 1, 17}));

    fill_buffer_with_stale_letters();
    analyse_text<2>("");
    EXPECT_EQ(r.ill_formed, 1);
    EXPECT_EQ(r.done_marker, 2);
    EXPECT_EQ(translit_codes_of<2>(), codes({}));

    // Apostrophes at the end: the NUL itself reads as the inherent vowel a.
    const struct {
        const char* text;
        std::int32_t vowel2, vowel3;
    } trailing[] = {{"ba'", 32, 0}, {"ba''", 32, 0}, {"ba'i'", 130, 32}};
    for (const auto& t : trailing) {
        SCOPED_TRACE(t.text);
        fill_buffer_with_stale_letters();
        const SyllableResult& s = analyse_text<17>(t.text);
        EXPECT_EQ(s.done_marker, 1);
        EXPECT_EQ(s.vowel2, t.vowel2);
        EXPECT_EQ(s.vowel3, t.vowel3);
        EXPECT_EQ(s.suffix, 0);
    }

    // The same at the end of the longest syllable, where the buffer ends too.
    const SyllableResult& longest = analyse_text<17>("kkkkkkkkkkkkka'");
    EXPECT_EQ(longest.vowel2, 32);
    EXPECT_EQ(longest.suffix, 0);
    EXPECT_EQ(longest.done_marker, 2);
}

TEST_F(WordModule, TransliterationKeepsWholeGroupsWithinSixteenBytes) {
    const std::string fifteen_long(15, '\x81');
    analyse_text<11>(fifteen_long.c_str());
    EXPECT_EQ(translit_codes_of<11>(), codes({1, 200, 1, 200, 1, 200, 1, 200, 1, 200, 1, 200, 1, 200, 1, 200}));

    std::string marked;
    for (int k = 0; k < 7; ++k) marked += "\x81\x97";
    analyse_text<11>((marked + "\x81").c_str());
    EXPECT_EQ(translit_codes_of<11>(), codes({2, 200, 218, 2, 200, 218, 2, 200, 218, 2, 200, 218, 2, 200, 218}));

    analyse_text<11>((marked.substr(0, 8) + std::string(7, '\x83')).c_str());
    EXPECT_EQ(translit_codes_of<11>(),
              codes({2, 200, 218, 2, 200, 218, 2, 200, 218, 2, 200, 218, 1, 201, 1, 201}));

    // A word field without its NUL is cut to the 15 letters the buffer holds.
    std::memset(long_records[kScratchRecord].word, 'b', sizeof long_records[kScratchRecord].word);
    SyllableAnalyser<11>::analyse_syllable(kScratchRecord);
    EXPECT_EQ(syllable_buffer[15], 0);
    EXPECT_EQ(std::strlen(reinterpret_cast<const char*>(syllable_buffer)), 15u);
    EXPECT_EQ(SyllableAnalyser<11>::result.done_marker, 2);
}

// ---- The word step ------------------------------------------------------------

void start_word_step(std::int32_t phase, std::int32_t position) {
    word_phase = phase;
    word_position = position;
    module_seed = 7;
    for (WorkRecord& record : short_records) record.link = -1;
}

// The records whose analysis finished since start_word_step.
std::set<std::int32_t> analysed_records() {
    std::set<std::int32_t> records;
    for (std::int32_t i = 0; i < kRecordCount; ++i) {
        if (short_records[i].link != -1) records.insert(i);
    }
    return records;
}

TEST_F(WordModule, FirstCallOfAWorkUnitRunsEveryCopyOnce) {
    for_each_copy([]<int Copy>() { SyllableAnalyser<Copy>::result.done_marker = 0; });
    start_word_step(0, 0);
    word_step();
    EXPECT_EQ(analysed_records(), (std::set<std::int32_t>{0, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13}));
    for_each_copy([]<int Copy>() { EXPECT_EQ(SyllableAnalyser<Copy>::result.done_marker, 1) << Copy; });
    EXPECT_EQ(word_phase, 1);
    EXPECT_EQ(word_position, 17);
    EXPECT_EQ(module_seed, 7);
}

TEST_F(WordModule, PositionRestartsWithADrawOnlyPastTheLastRecord) {
    start_word_step(1, 663);
    word_step();
    EXPECT_EQ(word_position, 680);
    EXPECT_EQ(module_seed, 7);

    start_word_step(1, 680);
    const std::int32_t restart = module_random() % 20;
    const std::int32_t seed_after_draw = module_seed;
    module_seed = 7;
    word_step();
    EXPECT_EQ(*analysed_records().rbegin(), 696);
    EXPECT_EQ(word_position, restart);
    EXPECT_EQ(module_seed, seed_after_draw);
}

TEST_F(WordModule, PhaseOutsideTheScriptRunsTheLastPhase) {
    for (const std::int32_t phase : {9, 10, 12345, INT_MAX, -5, INT_MIN}) {
        SCOPED_TRACE(phase);
        start_word_step(phase, 100);
        word_step();
        EXPECT_EQ(analysed_records(), (std::set<std::int32_t>{109, 115}));
        EXPECT_EQ(word_phase, 0);
    }
}

TEST_F(WordModule, AWorkUnitsCallsWalkThePositionAndEndInPhaseSeven) {
    start_word_step(0, 0);
    for (int call = 0; call < kWordStepsPerUnit; ++call) {
        const std::int32_t before = word_position;
        const std::int32_t seed_before = module_seed;
        word_step();
        if (before + 17 < 681) {
            ASSERT_EQ(word_position, before + 17);
            ASSERT_EQ(module_seed, seed_before);
        } else {
            // Exactly one draw, and the restart comes from it.
            const std::int32_t seed_after = module_seed;
            module_seed = seed_before;
            ASSERT_EQ(word_position, module_random() % 20) << "call " << call;
            ASSERT_EQ(module_seed, seed_after);
        }
    }
    EXPECT_EQ(word_phase, 7);

    run_work_unit();
    EXPECT_EQ(word_phase, 7);
}

}  // namespace
