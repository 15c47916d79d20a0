// The formatter is checked against the C library wherever the two must agree,
// and against its own rules where it deliberately differs (a sign counts
// against the precision, # never adds 0x, %5% pads). Every formatter test
// runs on all three copies.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "driver/work_unit.h"
#include "workload/workload.h"
#include "modules/database/database.h"
#include "modules/library/formatter.h"
#include "modules/library/library.h"
#include "support/death_tests.h"

namespace {

struct Formatted {
    std::string text;
    std::int32_t count;
};

template <int Copy, typename... Arguments>
Formatted format_on(const char* format, Arguments... arguments) {
    char buffer[512];
    const std::int32_t count =
        FormatterCopy<Copy>::format_to_buffer(buffer, sizeof buffer - 1, format, arguments...);
    return {buffer, count};
}

template <typename... Arguments>
Formatted format_in_c(const std::string& format, Arguments... arguments) {
    char buffer[512];
    const int count = std::snprintf(buffer, sizeof buffer, format.c_str(), arguments...);
    return {buffer, count};
}

template <int Copy, typename... Arguments>
void expect_text(const std::string& expected, const char* format, Arguments... arguments) {
    const Formatted got = format_on<Copy>(format, arguments...);
    EXPECT_EQ(got.text, expected) << "format \"" << format << "\"";
    EXPECT_EQ(got.count, static_cast<std::int32_t>(expected.size())) << "format \"" << format << "\"";
}

template <typename C>
class FormatterTest : public testing::Test {};
using Copies = testing::Types<std::integral_constant<int, 1>, std::integral_constant<int, 2>,
                              std::integral_constant<int, 3>>;
TYPED_TEST_SUITE(FormatterTest, Copies);

TYPED_TEST(FormatterTest, SignsAndNumbersGiveTheirStatedTexts) {
    constexpr int C = TypeParam::value;
    expect_text<C>("bsgrubs: Int: -37.\n", "%s: Int: %d.\n", "bsgrubs", -37);
    expect_text<C>("+5", "%+d", 5);
    expect_text<C>("-5", "%+d", -5);
    expect_text<C>(" 5", "% d", 5);
    expect_text<C>("+5", "%+ d", 5);
    expect_text<C>("+5", "% +d", 5);
    expect_text<C>("+05", "%+.3d", 5);  // the sign counts against the precision
    expect_text<C>("-0042", "%.5d", -42);
    expect_text<C>("-00042", "%06d", -42);
    expect_text<C>("     005", "%08.3d", 5);
    expect_text<C>("5       ", "%-08d", 5);
    expect_text<C>("3    ", "%*d", -5, 3);
    expect_text<C>("3", "%.*d", -1, 3);
    expect_text<C>("2147483648", "%u", INT_MIN);
    expect_text<C>("4294967295", "%u", -1);
    expect_text<C>("-2147483648", "%d", INT_MIN);
    expect_text<C>("", "%.0d", 0);
    expect_text<C>("     ", "%5.0d", 0);
    expect_text<C>("+", "%+.0d", 0);
}

TYPED_TEST(FormatterTest, HexOctalAndPointerGiveTheirStatedTexts) {
    constexpr int C = TypeParam::value;
    expect_text<C>("0000006E", "%#08X", 110);
    expect_text<C>("FFFFFF92", "%#08X", -110);
    expect_text<C>("ff", "%#x", 255);
    expect_text<C>("010", "%#o", 8);
    expect_text<C>("0", "%#o", 0);
    expect_text<C>("", "%#.0o", 0);
    expect_text<C>("037777777777", "%#o", -1);
    expect_text<C>("0x1234", "%p", 0x1234);
    expect_text<C>("0x0", "%p", 0);
    expect_text<C>("  0x1234", "%8p", 0x1234);
    expect_text<C>("0x1234  ", "%-8p", 0x1234);
    expect_text<C>("0x001234", "%08p", 0x1234);
    expect_text<C>("0x1234", "%.6p", 0x1234);  // the prefix counts against the precision
    expect_text<C>("0x001234", "%.8p", 0x1234);
    expect_text<C>("0xffffffff", "%+p", -1);
}

TYPED_TEST(FormatterTest, SizeModifiersReadThirtyTwoBitsUnlessShortSigned) {
    constexpr int C = TypeParam::value;
    expect_text<C>("22136", "%hd", 0x12345678);
    expect_text<C>("-1", "%hi", 0x1234FFFF);
    expect_text<C>("305419896", "%hu", 0x12345678);
    expect_text<C>("305419896", "%hld", 0x12345678);  // long wins over short
    expect_text<C>("305419896", "%hD", 0x12345678);
    expect_text<C>("-7", "%ld", -7);
    expect_text<C>("-7", "%D", -7);
    expect_text<C>("17", "%O", 15);
    expect_text<C>("4294967295", "%U", -1);
}

TYPED_TEST(FormatterTest, TextsCharactersAndOtherConversions) {
    constexpr int C = TypeParam::value;
    expect_text<C>("Flabber", "%.7s", "Flabbergasted");
    expect_text<C>("Flab", "%.*s", 4, "Flabbergasted");
    expect_text<C>("Flabberg", "%.*s", 8, "Flabbergasted");
    expect_text<C>("Flabbe", "%.*s", 6, "Flabbergasted");
    expect_text<C>("Flabbergasted", "%.*s", -3, "Flabbergasted");
    expect_text<C>("(null)", "%s", static_cast<const char*>(nullptr));
    expect_text<C>("(nu", "%.3s", static_cast<const char*>(nullptr));
    expect_text<C>("B", "%c", 0x142);
    expect_text<C>("a  |", "%-3c|", 'a');
    expect_text<C>("x", "%+c", 'x');
    expect_text<C>("%", "%%");
    expect_text<C>("    %", "%5%");
    expect_text<C>("%    ", "%-5%");
    expect_text<C>("f", "%f");
    expect_text<C>("y", "%+y");
    expect_text<C>("0000y", "%05y");
}

TYPED_TEST(FormatterTest, PrecisionLimitsAnUnterminatedText) {
    constexpr int C = TypeParam::value;
    // No NUL anywhere: a read past the fourth byte shows in the sanitizer build.
    const char letters[4] = {'a', 'b', 'c', 'd'};
    expect_text<C>("abcd", "%.4s", letters);
    expect_text<C>("ab", "%.2s", letters);
    const char* const short_text = "ab";
    expect_text<C>("ab", "%.9s", short_text);
    EXPECT_EQ(FormatterCopy<C>::find_byte(letters, 'd', 3), nullptr);
    EXPECT_EQ(FormatterCopy<C>::find_byte(letters, 'd', 4), letters + 3);
}

TYPED_TEST(FormatterTest, FormatEndingInsideAConversionPrintsWhatCameBefore) {
    constexpr int C = TypeParam::value;
    expect_text<C>("abc", "abc%");
    expect_text<C>("abc", "abc%-08");
    expect_text<C>("abc", "abc%.*", 3);
    expect_text<C>("7 and ", "%d and %l", 7);
}

TYPED_TEST(FormatterTest, CountStoreWritesTheCountSoFarAtItsSize) {
    constexpr int C = TypeParam::value;
    std::int32_t count = -1;
    expect_text<C>("abcd", "ab%ncd", &count);
    EXPECT_EQ(count, 2);

    expect_text<C>("   42", "%5d%n", 42, &count);
    EXPECT_EQ(count, 5);

    std::int16_t halves[2] = {-1, -1};
    expect_text<C>("abc", "abc%hn", &halves[0]);
    EXPECT_EQ(halves[0], 3);
    EXPECT_EQ(halves[1], -1);

    count = -1;
    expect_text<C>("abc", "abc%hln", &count);
    EXPECT_EQ(count, 3);

    // The count is of what the format produces, also what did not fit.
    char small[4];
    count = -1;
    EXPECT_EQ(FormatterCopy<C>::format_to_buffer(small, 3, "abcdef%n", &count), 6);
    EXPECT_EQ(count, 6);
    EXPECT_STREQ(small, "abc");
}

TYPED_TEST(FormatterTest, CapacityBoundsTheWritesAndKeepsTheCount) {
    constexpr int C = TypeParam::value;
    char buffer[64];
    const auto untouched_from = [&](std::size_t first) {
        for (std::size_t i = first; i < sizeof buffer; ++i) {
            if (buffer[i] != '#') return false;
        }
        return true;
    };

    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(FormatterCopy<C>::format_to_buffer(buffer, 5, "Hello, %s", "world"), 12);
    EXPECT_STREQ(buffer, "Hello");
    EXPECT_TRUE(untouched_from(6));

    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(FormatterCopy<C>::format_to_buffer(buffer, 10, "%40d|%-30s|", 7, "x"), 72);
    EXPECT_EQ(std::string(buffer), std::string(10, ' '));
    EXPECT_TRUE(untouched_from(11));

    for (const std::int32_t capacity : {0, -1, INT_MIN}) {
        std::memset(buffer, '#', sizeof buffer);
        EXPECT_EQ(FormatterCopy<C>::format_to_buffer(buffer, capacity, "%s", "abc"), 3);
        EXPECT_EQ(buffer[0], '\0');
        EXPECT_TRUE(untouched_from(1));
    }
}

TYPED_TEST(FormatterTest, PaddingComesInWholeBlocksThenTheRest) {
    constexpr int C = TypeParam::value;
    char buffer[8];
    FormatDestination destination{buffer, 0, 0};
    const struct {
        std::int64_t count;
        std::vector<std::int32_t> lengths;
    } cases[] = {{40, {16, 16, 8}}, {16, {16}}, {17, {16, 1}}, {1, {1}}, {0, {}}, {-5, {}}};
    for (const auto& c : cases) {
        SegmentList list{};
        FormatterCopy<C>::add_padding(&destination, &list, FormatterCopy<C>::space_block, c.count);
        ASSERT_EQ(list.count, static_cast<std::int32_t>(c.lengths.size())) << c.count;
        std::int32_t bytes = 0;
        for (std::int32_t i = 0; i < list.count; ++i) {
            EXPECT_EQ(list.segments[i].length, c.lengths[i]) << c.count;
            EXPECT_EQ(list.segments[i].bytes, FormatterCopy<C>::space_block);
            bytes += c.lengths[i];
        }
        EXPECT_EQ(list.bytes, bytes);
    }
}

// The C library's result for what our formatter is asked: the same, except
// that our sign counts against the precision and # only affects octal.
std::string c_equivalent(const std::string& flags, const std::string& width, int precision, char conversion,
                         std::int32_t value) {
    std::string c_flags;
    const bool is_signed = conversion == 'd' || conversion == 'i';
    const bool has_sign = is_signed && (value < 0 || flags.find_first_of("+ ") != std::string::npos);
    for (const char flag : flags) {
        const bool hex_alternate = flag == '#' && (conversion == 'x' || conversion == 'X');
        const bool octal_zero_alternate = flag == '#' && conversion == 'o' && value == 0 && precision == 0;
        // Sign flags do nothing to an unsigned conversion; leaving them out
        // keeps the comparison to C libraries that print them anyway.
        const bool unsigned_sign = !is_signed && (flag == '+' || flag == ' ');
        if (!hex_alternate && !octal_zero_alternate && !unsigned_sign) c_flags += flag;
    }
    const int c_precision = has_sign && precision >= 2 ? precision - 1 : precision;
    std::string format = "%" + c_flags + width;
    if (c_precision >= 0) format += "." + std::to_string(c_precision);
    return format + conversion;
}

TYPED_TEST(FormatterTest, IntegerConversionsAgreeWithTheCLibrary) {
    constexpr int C = TypeParam::value;
    const char flag_set[] = "-+ 0#";
    const char* const widths[] = {"", "1", "6", "14"};
    const int precisions[] = {-1, 0, 1, 2, 5, 12};
    const std::int32_t values[] = {0, 1, -1, 7, -7, 42, -42, 255, 4096, 123456789, INT_MIN, INT_MAX};
    int compared = 0;
    for (unsigned mask = 0; mask < 32; ++mask) {
        std::string flags;
        for (unsigned bit = 0; bit < 5; ++bit) {
            if ((mask & (1u << bit)) != 0) flags += flag_set[bit];
        }
        for (const char* width : widths) {
            for (const int precision : precisions) {
                for (const char conversion : std::string("diouxX")) {
                    std::string format = "%" + flags + width;
                    if (precision >= 0) format += "." + std::to_string(precision);
                    format += conversion;
                    for (const std::int32_t value : values) {
                        const Formatted ours = format_on<C>(format.c_str(), value);
                        const Formatted theirs =
                            format_in_c(c_equivalent(flags, width, precision, conversion, value), value);
                        ASSERT_EQ(ours.text, theirs.text) << "format \"" << format << "\" value " << value;
                        ASSERT_EQ(ours.count, theirs.count) << "format \"" << format << "\" value " << value;
                        ++compared;
                    }
                }
            }
        }
    }
    EXPECT_EQ(compared, 32 * 4 * 6 * 6 * 12);
}

TYPED_TEST(FormatterTest, StarArgumentsTextsAndCharactersAgreeWithTheCLibrary) {
    constexpr int C = TypeParam::value;
    for (const int width : {-20, -3, -1, 0, 2, 17, 33}) {
        for (const int precision : {-4, -1, 0, 2, 9}) {
            for (const std::int32_t value : {0, 5, 65535, INT_MIN}) {
                const Formatted ours = format_on<C>("[%*.*u]", width, precision, value);
                const Formatted theirs = format_in_c("[%*.*u]", width, precision, value);
                EXPECT_EQ(ours.text, theirs.text) << width << " " << precision << " " << value;
                EXPECT_EQ(ours.count, theirs.count);
            }
            for (const char* text : {"", "a", "Flabbergasted", "a text longer than sixteen bytes"}) {
                const Formatted ours = format_on<C>("<%*.*s>", width, precision, text);
                const Formatted theirs = format_in_c("<%*.*s>", width, precision, text);
                EXPECT_EQ(ours.text, theirs.text) << width << " " << precision << " " << text;
                EXPECT_EQ(ours.count, theirs.count);
            }
            const Formatted ours = format_on<C>("%*c|%-*c", width, 'q', precision, 'r');
            const Formatted theirs = format_in_c("%*c|%-*c", width, 'q', precision, 'r');
            EXPECT_EQ(ours.text, theirs.text) << width << " " << precision;
        }
    }
}

TYPED_TEST(FormatterTest, LongFormatsWithManySegmentsAgreeWithTheCLibrary) {
    constexpr int C = TypeParam::value;
    const char* const format = "[%-20s|%+08d|%#o|%X|%5c|%.3s|%40i|%-33u] tail %s%s%s%s%s%s%s%s%s end";
    const Formatted ours = format_on<C>(format, "left", 42, 8, 0xBEEF, 'z', "abcdef", -9, 77u, "a", "b", "c", "d",
                                        "e", "f", "g", "h", "i");
    const Formatted theirs = format_in_c(format, "left", 42, 8, 0xBEEF, 'z', "abcdef", -9, 77u, "a", "b", "c", "d",
                                         "e", "f", "g", "h", "i");
    EXPECT_EQ(ours.text, theirs.text);
    EXPECT_EQ(ours.count, theirs.count);
}

// ---- The library step -------------------------------------------------------

class LibraryStepTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(setup_workload(), 0);
        library_phase = 0;
        library_cursor = 699;
    }
    void TearDown() override { db_release(); }
};

// What each script must leave in a record, from the C library: our %#08X is
// the C library's %08X.
std::string expected_script_text(std::int32_t phase, const WorkRecord& record) {
    switch (phase) {
        case 0:
        case 4:
        case 8:
            return format_in_c("%s: Int: %d.\n", record.word, record.offset).text;
        case 1:
        case 5:
            return format_in_c("I am %d %.7s\n", record.offset, "Flabbergasted").text;
        case 2:
            return format_in_c("HEX, 08X: %08X.\n", record.offset).text;
        case 3:
            return format_in_c("I am %.*s\n", 4, "Flabbergasted").text;
        case 6:
            return format_in_c("+d: %+d, 08X: %08X.\n", record.offset, record.offset).text;
        case 7:
            return format_in_c("I am %.*s\n", 8, "Flabbergasted").text;
        case 9:
            return format_in_c("I am %.7s\n", "Flabbergasted").text;
        case 10:
            return format_in_c("Signed, +d: %+d\n", record.offset).text;
        default:
            return format_in_c("I am %.*s\n", 6, "Flabbergasted").text;
    }
}

TEST(LibraryScripts, PhaseSelectsCopyAndLaterPhasesUseTheLastScript) {
    const FormatToBuffer copies[] = {FormatterCopy<1>::format_to_buffer, FormatterCopy<2>::format_to_buffer,
                                     FormatterCopy<3>::format_to_buffer};
    for (std::int32_t phase = 0; phase < kLibraryScriptCount; ++phase) {
        EXPECT_EQ(library_scripts[phase].format_to_buffer, copies[phase % 3]) << phase;
        EXPECT_EQ(&library_script_for(phase), &library_scripts[phase]);
    }
    EXPECT_EQ(&library_script_for(12), &library_scripts[11]);
    EXPECT_EQ(&library_script_for(INT_MAX), &library_scripts[11]);
}

TEST_F(LibraryStepTest, FirstCallFormatsRecord699AndMovesOn) {
    const WorkRecord before = short_records[699];
    library_step();
    const WorkRecord& after = short_records[699];
    const std::string expected = format_in_c("%s: Int: %d.\n", before.word, before.offset).text;
    EXPECT_EQ(std::string(after.text1), expected);
    // Only the new text and its NUL were written.
    EXPECT_EQ(std::memcmp(after.text1 + expected.size() + 1, before.text1 + expected.size() + 1,
                          sizeof(WorkRecord) - expected.size() - 1),
              0);
    EXPECT_EQ(library_phase, 1);
    EXPECT_EQ(library_cursor, 682);
}

TEST_F(LibraryStepTest, CursorWrapsAfterRecordTwo) {
    for (int call = 1; call <= 41; ++call) library_step();
    EXPECT_EQ(library_cursor, 2);
    library_step();
    EXPECT_EQ(std::string(short_records[2].text1), expected_script_text(41 % 12, short_records[2]));
    EXPECT_EQ(library_cursor, 685);
}

TEST_F(LibraryStepTest, HexScriptShowsNoPrefix) {
    library_phase = 2;
    short_records[699].offset = -110;
    library_step();
    EXPECT_STREQ(short_records[699].text1, "HEX, 08X: FFFFFF92.\n");
    EXPECT_EQ(std::strlen(short_records[699].text1), 20u);

    library_phase = 2;
    short_records[682].offset = 110;
    library_step();
    EXPECT_STREQ(short_records[682].text1, "HEX, 08X: 0000006E.\n");
}

TEST_F(LibraryStepTest, LastScriptResetsThePhase) {
    for (const std::int32_t phase : {11, 12, 500}) {
        library_phase = phase;
        const std::int32_t record = library_cursor;
        library_step();
        EXPECT_STREQ(short_records[record].text1, "I am Flabbe\n");
        EXPECT_EQ(library_phase, 0);
    }
}

TEST_F(LibraryStepTest, OneUnitsCallsLeaveEveryScriptsText) {
    std::set<std::int32_t> visited;
    std::int32_t phases[kRecordCount];
    for (int call = 0; call < kLibraryStepsPerUnit; ++call) {
        visited.insert(library_cursor);
        phases[library_cursor] = library_phase;
        library_step();
    }
    EXPECT_EQ(visited.size(), static_cast<std::size_t>(kLibraryStepsPerUnit));
    for (const std::int32_t record : visited) {
        EXPECT_EQ(std::string(short_records[record].text1), expected_script_text(phases[record], short_records[record]))
            << "record " << record;
    }
    EXPECT_EQ(library_phase, kLibraryStepsPerUnit % kLibraryScriptCount);
    EXPECT_EQ(library_cursor, ((699 - 17 * kLibraryStepsPerUnit) % kRecordCount + kRecordCount) % kRecordCount);
}

TEST_F(LibraryStepTest, SameFormatGivesTheSameTextOnEveryCopy) {
    for (const WorkRecord& record : short_records) {
        const Formatted one = format_on<1>("%s: Int: %d.\n", record.word, record.offset);
        EXPECT_EQ(format_on<2>("%s: Int: %d.\n", record.word, record.offset).text, one.text);
        EXPECT_EQ(format_on<3>("%s: Int: %d.\n", record.word, record.offset).text, one.text);
    }
}

using LibraryStepDeathTest = DeathTestOf<LibraryStepTest>;

TEST_F(LibraryStepDeathTest, TwentyNineCharactersPassAndThirtyEndTheProcess) {
    WorkRecord& record = short_records[699];
    std::strcpy(record.word, "fifteen_letters");
    record.offset = 12345;
    library_step();
    EXPECT_EQ(std::strlen(record.text1), 29u);

    library_phase = 0;
    library_cursor = 699;
    record.offset = 123456;
    EXPECT_EXIT(library_step(), testing::ExitedWithCode(255), "Print string too long\\.");
}

// A word that has lost its NUL runs on through the next record: the text that
// results is far longer than the record it is written into.
struct RunawayWord {
    static constexpr std::int32_t kRecord = 10;
    WorkRecord next_before[2];

    RunawayWord() {
        WorkRecord& record = short_records[kRecord];
        std::memset(record.word, 'w', sizeof(WorkRecord) - offsetof(WorkRecord, word));
        std::memset(&short_records[kRecord + 1], 'v', sizeof(WorkRecord));
        short_records[kRecord + 2].text1[10] = '\0';
        std::memcpy(next_before, &short_records[kRecord + 1], sizeof next_before);
    }
    bool next_records_untouched() const {
        return std::memcmp(next_before, &short_records[kRecord + 1], sizeof next_before) == 0;
    }
};

TEST_F(LibraryStepTest, LongResultStopsAtTheRecordsEnd) {
    RunawayWord runaway;
    WorkRecord& record = short_records[RunawayWord::kRecord];
    const std::int32_t word_length = static_cast<std::int32_t>(std::strlen(record.word));
    ASSERT_GT(word_length, static_cast<std::int32_t>(sizeof(WorkRecord)));
    const std::int32_t offset_length = static_cast<std::int32_t>(std::to_string(record.offset).size());

    EXPECT_EQ(format_library_script(0, record), word_length + 7 + offset_length + 2);
    EXPECT_EQ(std::strlen(record.text1), sizeof(WorkRecord) - 1);
    EXPECT_TRUE(runaway.next_records_untouched());
}

RunawayWord* runaway_in_child = nullptr;
void report_runaway_at_exit() {
    if (runaway_in_child != nullptr && runaway_in_child->next_records_untouched()) {
        std::fputs("records after it untouched\n", stderr);
    }
}

TEST_F(LibraryStepDeathTest, LongResultEndsTheProcessWithoutWritingPastItsRecord) {
    EXPECT_EXIT(
        {
            runaway_in_child = new RunawayWord;
            std::atexit(report_runaway_at_exit);
            library_cursor = RunawayWord::kRecord;
            library_step();
        },
        testing::ExitedWithCode(255), "Print string too long\\.\n(.|\n)*records after it untouched");
}

}  // namespace
