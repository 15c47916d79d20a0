// The date module's decimal arithmetic and Julian day numbers.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "modules/dates/bcd.h"
#include "shell/shell.h"
#include "support/death_tests.h"
#include "support/test_support.h"

namespace {

BcdNumber number(std::int32_t v) {
    BcdNumber n;
    L2BCD(n, v);
    return n;
}

// The digit-form invariants every operation must keep.
void expect_well_formed(const BcdNumber& n, std::int32_t value) {
    SCOPED_TRACE(value);
    if (value == 0) {
        for (const std::int32_t c : n.cell) EXPECT_EQ(c, 0);
        return;
    }
    EXPECT_EQ(n.cell[kBcdSignCell], value < 0 ? -1 : 1);
    const std::int32_t lead = n.cell[kBcdLeadCell];
    ASSERT_GE(lead, kBcdFirstDigit);
    ASSERT_LE(lead, kBcdUnitsCell);
    EXPECT_NE(n.cell[lead], 0);
    for (std::int32_t i = kBcdFirstDigit; i < lead; ++i) EXPECT_EQ(n.cell[i], 0);
    for (std::int32_t i = lead; i <= kBcdUnitsCell; ++i) {
        EXPECT_GE(n.cell[i], 0);
        EXPECT_LE(n.cell[i], 9);
    }
    EXPECT_EQ(BCD2L(n), value);
}

// Values of every length and sign, with carries and borrows at every place.
std::vector<std::int32_t> sample_values() {
    std::vector<std::int32_t> values = {0, 1, 9, 10, 99, 100, 101, 999, 1000, 1461, 32075, 99999, 100000,
                                        2433013, 4999999, 5000000, 9999999};
    for (std::int32_t v = 7; v < 10000000; v = v * 13 + 5) values.push_back(v);
    const std::size_t positives = values.size();
    for (std::size_t i = 1; i < positives; ++i) values.push_back(-values[i]);
    return values;
}

}  // namespace

TEST(DecimalNumbers, ConversionLaysOutSignLeadAndDigits) {
    expect_well_formed(number(0), 0);
    const BcdNumber minus45 = number(-45);
    EXPECT_EQ(minus45.cell[kBcdSignCell], -1);
    EXPECT_EQ(minus45.cell[kBcdLeadCell], 8);
    EXPECT_EQ(minus45.cell[8], 4);
    EXPECT_EQ(minus45.cell[9], 5);
    EXPECT_EQ(number(9999999).cell[kBcdLeadCell], 3);
    const BcdNumber day = number(2433013);
    const std::int32_t digits[] = {2, 4, 3, 3, 0, 1, 3};
    EXPECT_EQ(day.cell[kBcdLeadCell], 3);
    for (int i = 0; i < 7; ++i) EXPECT_EQ(day.cell[3 + i], digits[i]);
    for (const std::int32_t v : sample_values()) expect_well_formed(number(v), v);
}

TEST(DecimalNumbers, CopyClearsTheCellsAboveTheLead) {
    BcdNumber target = number(9999999);
    bcd_copy(target, number(42));
    expect_well_formed(target, 42);
    bcd_copy(target, number(0));
    expect_well_formed(target, 0);
}

TEST(DecimalNumbers, CompareLooksAtMagnitudesAndRanksZeroAboveAll) {
    EXPECT_EQ(bcd_compare(number(-50), number(49)), 1);
    EXPECT_EQ(bcd_compare(number(49), number(-50)), -1);
    EXPECT_EQ(bcd_compare(number(-123), number(123)), 0);
    EXPECT_EQ(bcd_compare(number(999), number(1000)), -1);
    EXPECT_EQ(bcd_compare(number(0), number(9999999)), 1);
    EXPECT_EQ(bcd_compare(number(1), number(0)), -1);
}

TEST(DecimalNumbers, AddAndSubtractAgreeWithMachineArithmetic) {
    const std::vector<std::int32_t> values = sample_values();
    for (const std::int32_t a : values) {
        for (const std::int32_t b : values) {
            BcdNumber result;
            bcd_add(result, number(a), number(b));
            expect_well_formed(result, a + b);
            bcd_subtract(result, number(a), number(b));
            expect_well_formed(result, a - b);
            // The result may be the first operand itself.
            result = number(a);
            bcd_subtract(result, result, number(b));
            expect_well_formed(result, a - b);
        }
    }
}

TEST(DecimalNumbers, SubtractionBorrowsOnlyInItsOwnCopy) {
    const BcdNumber a = number(1000);
    BcdNumber result;
    bcd_subtract(result, a, number(1));
    expect_well_formed(result, 999);
    expect_well_formed(a, 1000);
    bcd_subtract(result, number(77), number(77));
    expect_well_formed(result, 0);
}

TEST(DecimalNumbers, SumsMayUseAllEightDigitCells) {
    BcdNumber result;
    bcd_add(result, number(9999999), number(1));
    expect_well_formed(result, 10000000);
    bcd_add(result, result, result);
    expect_well_formed(result, 20000000);
    bcd_multiply(result, number(9999999), 10);
    expect_well_formed(result, 99999990);
}

TEST(DecimalNumbers, MultiplyAgreesWithMachineArithmetic) {
    const std::int32_t factors[] = {0, 1, -1, 3, 4, 7, -11, 12, 100, 367, 1461, -1461, 9999};
    for (const std::int32_t a : sample_values()) {
        for (const std::int32_t n : factors) {
            const std::int64_t product = static_cast<std::int64_t>(a) * n;
            if (product >= 100000000 || product <= -100000000) continue;
            BcdNumber result = number(a);
            bcd_multiply(result, result, n);
            expect_well_formed(result, static_cast<std::int32_t>(product));
        }
    }
    BcdNumber result;
    bcd_multiply(result, number(12), -11);
    expect_well_formed(result, -132);
}

TEST(DecimalNumbers, DivideTruncatesTowardZero) {
    BcdNumber result;
    bcd_divide(result, number(-7), 2);
    expect_well_formed(result, -3);
    bcd_divide(result, number(123), 5);
    expect_well_formed(result, 24);
    bcd_divide(result, number(5), 7);
    expect_well_formed(result, 0);
    bcd_divide(result, number(5), 0);
    expect_well_formed(result, 0);
    // A quotient with zeros inside, and a dividend used up early.
    bcd_divide(result, number(1005), 5);
    expect_well_formed(result, 201);
    bcd_divide(result, number(1000), 5);
    expect_well_formed(result, 200);

    const std::int32_t divisors[] = {1, -1, 2, 3, 4, -4, 7, 9, 10, 12, 13, 99, 100, 367, 1461, 9999999};
    for (const std::int32_t a : sample_values()) {
        for (const std::int32_t n : divisors) {
            BcdNumber quotient = number(a);
            bcd_divide(quotient, quotient, n);
            expect_well_formed(quotient, a / n);
        }
    }
}

using DecimalNumbersDeathTest = DeathTestOf<>;

TEST_F(DecimalNumbersDeathTest, OperandsThatDoNotFitEndTheProcess) {
    reset_shell_settings();
    BcdNumber n;
    EXPECT_EXIT(L2BCD(n, 10000000), testing::ExitedWithCode(255), "Processor Test Error: OVERFLOW IN L2BCD");
    EXPECT_EXIT(L2BCD(n, INT32_MIN), testing::ExitedWithCode(255), "OVERFLOW IN L2BCD");
    // A divisor too large to convert is caught before any digit is divided.
    EXPECT_EXIT(bcd_divide(n, number(5), -10000000), testing::ExitedWithCode(255), "OVERFLOW IN L2BCD");
    EXPECT_EXIT(bcd_first_quotient_position(8, 3), testing::ExitedWithCode(255),
                "Processor Test Error: STRTDIG OVERFLOW");
    EXPECT_EQ(bcd_first_quotient_position(7, 3), 9);

    // Nine digits have no cell: the sum or product is refused, not written
    // over the lead cell or beyond the number.
    BcdNumber big;
    bcd_multiply(big, number(9999999), 10);
    EXPECT_EXIT(bcd_add(n, big, number(10)), testing::ExitedWithCode(255), "OVERFLOW IN BCD_ADD");
    EXPECT_EXIT(bcd_multiply(n, number(9999999), 20), testing::ExitedWithCode(255), "OVERFLOW IN BCD_MULTIPLY");
    EXPECT_EXIT(bcd_multiply(n, number(5000000), 1000), testing::ExitedWithCode(255), "OVERFLOW IN BCD_MULTIPLY");
}

TEST(JulianDay, KnownDays) {
    EXPECT_EQ(julian_day(1, 1, 2000), 2451545);
    EXPECT_EQ(julian_day(6, 4, 1949), 2433013);
    EXPECT_EQ(julian_day(1, 3, 2000), 2451605);
    EXPECT_EQ(julian_day(1, 1, 1), 1721424);
    EXPECT_EQ(BCD2L(jd_total), 1721424);  // the work numbers keep the last computation
}

TEST(JulianDay, CalendarSwitchesAfterFourteenOctober1582) {
    EXPECT_EQ(julian_day(4, 10, 1582), 2299160);
    EXPECT_EQ(julian_day(14, 10, 1582), 2299170);  // still the Julian formula
    EXPECT_EQ(julian_day(15, 10, 1582), 2299161);  // first Gregorian day
    EXPECT_EQ(julian_day(1, 11, 1582), julian_day(31, 10, 1582) + 1);
}

namespace {

std::int32_t month_length(std::int32_t month, std::int32_t year, bool gregorian) {
    constexpr std::int32_t lengths[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month != 2) return lengths[month];
    const bool leap = year % 4 == 0 && (!gregorian || year % 100 != 0 || year % 400 == 0);
    return leap ? 29 : 28;
}

// Walks a calendar day by day and checks that every day is numbered one
// past the day before.
void expect_consecutive_days(std::int32_t first_year, std::int32_t last_year, bool gregorian) {
    std::int32_t previous = julian_day(1, 1, first_year) - 1;
    for (std::int32_t year = first_year; year <= last_year; ++year) {
        for (std::int32_t month = 1; month <= 12; ++month) {
            for (std::int32_t day = 1; day <= month_length(month, year, gregorian); ++day) {
                const std::int32_t jd = julian_day(day, month, year);
                ASSERT_EQ(jd, previous + 1) << day << "." << month << "." << year;
                previous = jd;
            }
        }
    }
}

}  // namespace

TEST(JulianDay, NumbersEveryDayOnePastTheDayBefore) {
    expect_consecutive_days(1583, 1604, true);
    expect_consecutive_days(1895, 1905, true);
    expect_consecutive_days(1995, 2005, true);
    expect_consecutive_days(-12, 12, false);
    expect_consecutive_days(1560, 1581, false);
    // The far ends of the range the work numbers can hold. Before about year
    // -5000 the Julian formula's truncating division no longer numbers every day
    // exactly, but it still fits the eight digits.
    expect_consecutive_days(59990, 60000, true);
    EXPECT_LT(julian_day(1, 1, -200000), julian_day(1, 1, -199999));
    EXPECT_LT(julian_day(31, 12, -200000), julian_day(1, 1, -199999));
}

using JulianDayDeathTest = DeathTestOf<>;

TEST_F(JulianDayDeathTest, YearsFarOutOfRangeEndTheProcess) {
    reset_shell_settings();
    EXPECT_EXIT(julian_day(1, 1, 100000000), testing::ExitedWithCode(255), "OVERFLOW IN L2BCD");
    EXPECT_EXIT(julian_day(1, 1, INT32_MAX), testing::ExitedWithCode(255), "OVERFLOW IN L2BCD");
}
