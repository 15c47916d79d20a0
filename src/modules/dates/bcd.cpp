#include "modules/dates/bcd.h"

#include "workload/wrapping.h"
#include "workload/report_error.h"

BcdNumber jd_total;
BcdNumber jd_second;
BcdNumber jd_third;
BcdNumber jd_constant;

namespace {

std::int32_t& sign(BcdNumber& a) { return a.cell[kBcdSignCell]; }
std::int32_t sign(const BcdNumber& a) { return a.cell[kBcdSignCell]; }
std::int32_t& lead(BcdNumber& a) { return a.cell[kBcdLeadCell]; }
std::int32_t lead(const BcdNumber& a) { return a.cell[kBcdLeadCell]; }

void clear(BcdNumber& a) {
    for (std::int32_t& c : a.cell) c = 0;
}

BcdNumber magnitude(BcdNumber a) {
    sign(a) = 1;
    return a;
}

// |n| without overflowing on the most negative integer.
std::uint32_t unsigned_magnitude(std::int32_t n) {
    return n < 0 ? 0u - static_cast<std::uint32_t>(n) : static_cast<std::uint32_t>(n);
}

// A digit that would land left of cell 2 has nowhere to go: the number does
// not fit eight digits.
void check_digit_cell(std::int32_t index, const char* message) {
    if (index < kBcdFirstDigit) report_error(message);
}

// A carry left after the last digit becomes the new leading digit.
void store_carry(BcdNumber& n, std::int32_t carry, const char* overflow_message) {
    if (carry == 0) return;
    const std::int32_t above = lead(n) - 1;
    check_digit_cell(above, overflow_message);
    n.cell[above] = carry;
    lead(n) = above;
}

}  // namespace

void L2BCD(BcdNumber& result, std::int32_t v) {
    for (std::int32_t p = kBcdFirstDigit; p <= kBcdUnitsCell; ++p) result.cell[p] = 0;
    if (v == 0) {
        sign(result) = 0;
        lead(result) = 0;
        return;
    }
    sign(result) = v < 0 ? -1 : 1;
    std::uint32_t rest = unsigned_magnitude(v);
    // The test for a free cell comes before the test for remaining digits,
    // so only seven digits are accepted although eight cells exist.
    std::int32_t p = kBcdUnitsCell;
    do {
        result.cell[p] = static_cast<std::int32_t>(rest % 10);
        rest /= 10;
        --p;
        if (p < kBcdFirstDigit) report_error("OVERFLOW IN L2BCD");
    } while (rest != 0);
    lead(result) = p + 1;
}

std::int32_t BCD2L(const BcdNumber& a) {
    std::int32_t value = 0;
    for (std::int32_t i = lead(a); i <= kBcdUnitsCell; ++i) value = value * 10 + a.cell[i];
    return sign(a) < 0 ? -value : value;
}

void bcd_copy(BcdNumber& result, const BcdNumber& a) {
    const std::int32_t a_lead = lead(a);
    sign(result) = sign(a);
    lead(result) = a_lead;
    for (std::int32_t i = kBcdFirstDigit; i < a_lead; ++i) result.cell[i] = 0;
    for (std::int32_t i = a_lead; i <= kBcdUnitsCell; ++i) result.cell[i] = a.cell[i];
}

std::int32_t bcd_compare(const BcdNumber& a, const BcdNumber& b) {
    if (lead(a) > lead(b)) return -1;
    if (lead(a) < lead(b)) return 1;
    for (std::int32_t i = kBcdFirstDigit; i <= kBcdUnitsCell; ++i) {
        if (a.cell[i] != b.cell[i]) return a.cell[i] > b.cell[i] ? 1 : -1;
    }
    return 0;
}

void bcd_add(BcdNumber& result, const BcdNumber& a_in, const BcdNumber& b_in) {
    const BcdNumber a = a_in;
    const BcdNumber b = b_in;
    if (sign(a) == 0) {
        bcd_copy(result, b);
        return;
    }
    if (sign(b) == 0) {
        bcd_copy(result, a);
        return;
    }
    if (sign(a) > 0 && sign(b) < 0) {
        bcd_subtract(result, a, magnitude(b));
        return;
    }
    if (sign(a) < 0 && sign(b) > 0) {
        bcd_subtract(result, b, magnitude(a));
        return;
    }
    if (sign(a) < 0 && sign(b) < 0) {
        bcd_add(result, magnitude(a), magnitude(b));
        sign(result) = -1;
        return;
    }

    clear(result);
    const std::int32_t low = lead(a) < lead(b) ? lead(a) : lead(b);
    std::int32_t carry = 0;
    for (std::int32_t i = kBcdUnitsCell; i >= low; --i) {
        const std::int32_t s = carry + a.cell[i] + b.cell[i];
        result.cell[i] = s % 10;
        carry = s / 10;
        lead(result) = i;
    }
    store_carry(result, carry, "OVERFLOW IN BCD_ADD");
    sign(result) = 1;
}

void bcd_subtract(BcdNumber& result, const BcdNumber& a_in, const BcdNumber& b_in) {
    BcdNumber a = a_in;  // borrows lower its digits
    const BcdNumber b = b_in;
    if (sign(a) > 0 && sign(b) < 0) {
        bcd_add(result, a, magnitude(b));
        return;
    }
    if (sign(a) < 0 && sign(b) > 0) {
        bcd_add(result, b, magnitude(a));
        sign(result) = -1;
        return;
    }
    if (sign(a) < 0 && sign(b) < 0) {
        bcd_subtract(result, magnitude(b), magnitude(a));
        return;
    }
    if (sign(b) == 0) {
        bcd_copy(result, a);
        return;
    }
    if (sign(a) == 0) {
        bcd_copy(result, b);
        sign(result) = -sign(b);
        return;
    }

    const std::int32_t order = bcd_compare(a, b);
    if (order == 0) {
        clear(result);
        return;
    }
    if (order < 0) {
        bcd_subtract(result, b, a);
        sign(result) = -1;
        return;
    }
    clear(result);
    // a is the greater, so no borrow ever reaches past a's leading digit.
    for (std::int32_t i = kBcdUnitsCell; i >= lead(a); --i) {
        std::int32_t d = a.cell[i];
        if (d < b.cell[i]) {
            --a.cell[i - 1];
            d += 10;
        }
        result.cell[i] = d - b.cell[i];
        if (result.cell[i] != 0) lead(result) = i;
    }
    sign(result) = 1;
}

void bcd_multiply(BcdNumber& result, const BcdNumber& a_in, std::int32_t n) {
    const BcdNumber a = a_in;
    clear(result);
    if (sign(a) == 0 || n == 0) return;
    const std::int32_t final_sign = n < 0 ? -sign(a) : sign(a);

    // One partial product per nonzero digit of |n|, shifted left by the
    // digit's place and added in.
    std::int32_t shift = 0;
    for (std::uint32_t rest = unsigned_magnitude(n); rest != 0; rest /= 10, ++shift) {
        const std::int32_t d = static_cast<std::int32_t>(rest % 10);
        if (d == 0) continue;
        BcdNumber partial;
        clear(partial);
        check_digit_cell(lead(a) - shift, "OVERFLOW IN BCD_MULTIPLY");
        std::int32_t carry = 0;
        for (std::int32_t i = kBcdUnitsCell; i >= lead(a); --i) {
            const std::int32_t t = carry + a.cell[i] * d;
            partial.cell[i - shift] = t % 10;
            carry = t / 10;
        }
        lead(partial) = lead(a) - shift;
        store_carry(partial, carry, "OVERFLOW IN BCD_MULTIPLY");
        sign(partial) = 1;
        bcd_add(result, result, partial);
    }
    sign(result) = final_sign;
}

std::int32_t bcd_first_quotient_position(std::int32_t divisor_digits, std::int32_t dividend_lead) {
    const std::int32_t p = divisor_digits + dividend_lead - 1;
    if (p > kBcdUnitsCell) report_error("STRTDIG OVERFLOW");
    return p;
}

void bcd_divide(BcdNumber& result, const BcdNumber& a, std::int32_t n) {
    BcdNumber dividend;
    bcd_copy(dividend, a);
    clear(result);
    if (sign(dividend) == 0) return;

    BcdNumber divisor;
    L2BCD(divisor, n);
    if (bcd_compare(divisor, dividend) > 0) return;  // also a divisor of 0

    const std::int32_t final_sign = n < 0 ? -sign(dividend) : sign(dividend);
    const std::uint32_t n_magnitude = unsigned_magnitude(n);
    const std::int32_t divisor_digits = kBcdUnitsCell + 1 - lead(divisor);

    // Long division: each step converts the dividend's leading digits up to
    // p to a machine integer, divides that chunk, and writes the remainder
    // back in digits.
    sign(result) = 1;
    for (std::int32_t p = bcd_first_quotient_position(divisor_digits, lead(dividend)); p <= kBcdUnitsCell; ++p) {
        const std::int32_t chunk_lead = lead(dividend);
        BcdNumber chunk_digits;
        clear(chunk_digits);
        const std::int32_t chunk_length = p - chunk_lead + 1;
        if (chunk_length > 0) {
            sign(chunk_digits) = 1;
            lead(chunk_digits) = kBcdUnitsCell + 1 - chunk_length;
            for (std::int32_t t = 0; t < chunk_length; ++t) {
                chunk_digits.cell[kBcdUnitsCell - t] = dividend.cell[p - t];
            }
        }
        const std::uint32_t chunk = static_cast<std::uint32_t>(BCD2L(chunk_digits));
        const std::uint32_t q = chunk / n_magnitude;
        if (q == 0) {
            result.cell[p] = 0;
            continue;
        }
        result.cell[p] = static_cast<std::int32_t>(q);
        if (lead(result) == 0) lead(result) = p;

        BcdNumber remainder;
        L2BCD(remainder, static_cast<std::int32_t>(chunk % n_magnitude));
        for (std::int32_t t = 0; t < chunk_length; ++t) {
            dividend.cell[p - t] = remainder.cell[kBcdUnitsCell - t];
        }
        std::int32_t next_lead = chunk_lead;
        while (next_lead <= kBcdUnitsCell && dividend.cell[next_lead] == 0) ++next_lead;
        lead(dividend) = next_lead;
        if (next_lead > kBcdUnitsCell) break;  // the dividend is used up
    }
    sign(result) = final_sign;
}

std::int32_t julian_day(std::int32_t day, std::int32_t month, std::int32_t year) {
    // The machine-integer parts wrap rather than overflow: a year far out of
    // range then ends in "OVERFLOW IN L2BCD" instead of undefined behaviour.
    const bool gregorian = year > 1582 || (year == 1582 && month > 10) || (year == 1582 && month == 10 && day >= 15);
    if (gregorian) {
        const std::int32_t a = wrapping_add(month, -14) / 12;
        L2BCD(jd_total, wrapping_add(wrapping_add(year, 4800), a));
        bcd_multiply(jd_total, jd_total, 1461);
        bcd_divide(jd_total, jd_total, 4);
        L2BCD(jd_second, wrapping_add(wrapping_add(month, -2), wrapping_multiply(-12, a)));
        bcd_multiply(jd_second, jd_second, 367);
        bcd_divide(jd_second, jd_second, 12);
        L2BCD(jd_third, wrapping_add(wrapping_add(year, 4900), a) / 100);
        bcd_multiply(jd_third, jd_third, 3);
        bcd_divide(jd_third, jd_third, 4);
        L2BCD(jd_constant, 32075);
        bcd_add(jd_third, jd_third, jd_constant);
        bcd_add(jd_total, jd_total, jd_second);
        bcd_subtract(jd_total, jd_total, jd_third);
        return wrapping_add(BCD2L(jd_total), day);
    }
    L2BCD(jd_total, year);
    bcd_multiply(jd_total, jd_total, 367);
    const std::int32_t b = wrapping_add(month, -9) / 7;
    L2BCD(jd_second, wrapping_add(wrapping_add(year, 5001), b));
    bcd_multiply(jd_second, jd_second, 7);
    bcd_divide(jd_second, jd_second, 4);
    L2BCD(jd_third, wrapping_add(wrapping_multiply(275, month) / 9, day));
    L2BCD(jd_constant, 1729777);
    bcd_add(jd_third, jd_third, jd_constant);
    bcd_subtract(jd_total, jd_total, jd_second);
    bcd_add(jd_total, jd_total, jd_third);
    return BCD2L(jd_total);
}
