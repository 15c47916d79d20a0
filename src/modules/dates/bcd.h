// The date module's decimal arithmetic: numbers held digit by digit, one
// decimal digit per 32-bit cell, and the Julian day number computed with it.
// The digit loops are the point: they are workload, not a faster way to get
// the answer.
#pragma once

#include <cstdint>

inline constexpr int kBcdSignCell = 0;   // +1, -1, or 0 for the number zero
inline constexpr int kBcdLeadCell = 1;   // index of the leading digit; 0 for zero
inline constexpr int kBcdFirstDigit = 2;
inline constexpr int kBcdUnitsCell = 9;  // the units digit always sits here

// Cells 2 to 9 hold at most eight digits, most significant first; every digit
// cell below the lead holds 0. The number zero is all zeros.
struct BcdNumber {
    std::int32_t cell[10];
};

// The Julian day routine's work numbers and its result; nothing reads them
// back, they exist so the computation cannot be dropped.
extern BcdNumber jd_total;
extern BcdNumber jd_second;
extern BcdNumber jd_third;
extern BcdNumber jd_constant;

// Every operation takes its result first; the result may be the same number
// as the first operand.

// result = v. A magnitude of 10,000,000 or more ends the process with
// "OVERFLOW IN L2BCD".
void L2BCD(BcdNumber& result, std::int32_t v);
std::int32_t BCD2L(const BcdNumber& a);
void bcd_copy(BcdNumber& result, const BcdNumber& a);
// -1, 0 or +1 by magnitude. A zero counts as greater than any other number.
std::int32_t bcd_compare(const BcdNumber& a, const BcdNumber& b);
// Sums and products that do not fit eight digits end the process with
// "OVERFLOW IN BCD_ADD" or "OVERFLOW IN BCD_MULTIPLY" instead of writing
// beyond the digit cells.
void bcd_add(BcdNumber& result, const BcdNumber& a, const BcdNumber& b);
void bcd_subtract(BcdNumber& result, const BcdNumber& a, const BcdNumber& b);
void bcd_multiply(BcdNumber& result, const BcdNumber& a, std::int32_t n);
// Truncates toward zero; a divisor of 0 or one greater in magnitude than a
// gives zero.
void bcd_divide(BcdNumber& result, const BcdNumber& a, std::int32_t n);

// Cell of the first quotient digit when a divisor of divisor_digits digits
// goes into a dividend led at dividend_lead. A position past the units cell
// ends the process with "STRTDIG OVERFLOW"; the magnitude test of bcd_divide
// keeps every well-formed division clear of it.
std::int32_t bcd_first_quotient_position(std::int32_t divisor_digits, std::int32_t dividend_lead);

// Julian day number of a date, with the Gregorian calendar from 15 October
// 1582 on and the Julian calendar before. Exact for years -200000 to 60000.
std::int32_t julian_day(std::int32_t day, std::int32_t month, std::int32_t year);
