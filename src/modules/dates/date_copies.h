// The date arithmetic's replica copies. Every routine exists as many copies
// that behave alike and differ only in their private storage and in the
// copies they call; the date step spreads its work over them so that it runs
// through a large body of code and data, as real applications do.
//
// Dispatcher copies are numbered 0 to 109. Copies 0 to 9 work on the base
// date (cases 0 to 9; copy 0 adds the Julian day). Copies 10 to 109 work on
// the dates kept in long_records, in ten groups of ten: group g holds copies
// 10g to 10g+9, and copy 10g is the group's reset copy. Case k of the step
// calls copy k, except case 107, which calls copies 107, 108 and 109.
#pragma once

#include <array>
#include <cstdint>

inline constexpr int kWorkingDispatchers = 10;
inline constexpr int kDispatcherCount = 110;
inline constexpr int kDateCaseCount = 108;
inline constexpr int kMonthTables = 11;

// ---- Wiring --------------------------------------------------------------

// after_30_day_months copy 1 serves the working copies, copy g+1 group g.
constexpr int month_table_copy(int dispatcher) { return dispatcher < kWorkingDispatchers ? 1 : dispatcher / 10 + 1; }

// Leap-year test copies 1 and 2 serve the working copies (case 2's alone has
// copy 1). In groups 1, 4, 7, 8, 9 and 10 one plain copy has a test of its
// own and the rest of the group share another; groups 2 and 3 share group
// 1's, groups 5 and 6 group 4's.
constexpr int leap_year_copy(int dispatcher) {
    if (dispatcher < kWorkingDispatchers) return dispatcher == 2 ? 1 : 2;
    switch (dispatcher) {
        case 16: return 3;
        case 45: return 5;
        case 71: return 7;
        case 81: return 9;
        case 97: return 11;
        case 102: return 13;
        default: break;
    }
    constexpr int shared_by_group[11] = {0, 4, 4, 4, 6, 6, 6, 8, 10, 12, 14};
    return shared_by_group[dispatcher / 10];
}

constexpr bool is_reset_dispatcher(int dispatcher) {
    return dispatcher >= kWorkingDispatchers && dispatcher % 10 == 0;
}

// ---- What each dispatcher copy is called with ----------------------------

// The fields that receive the case's offset; the others get 0.
enum DateFieldMask : std::uint8_t { kYearField = 1, kMonthField = 2, kDayField = 4, kHourField = 8, kMinuteField = 16 };

inline constexpr std::array<std::uint8_t, kDispatcherCount> kDispatcherFields = [] {
    constexpr std::uint8_t Y = kYearField, MO = kMonthField, D = kDayField, H = kHourField, MI = kMinuteField;
    return std::array<std::uint8_t, kDispatcherCount>{
        MO | MI, MO | MI, D | H,   MO | MI, MO | MI, Y | MO,  Y | MO,  Y | MI,  D | MI,  D | H,    // 0-9
        H,       D,       Y,       MI,      H,       D,       H,       MI,      MO | MI, H,        // 10-19
        H,       D,       Y | MI,  MI,      D,       H,       H,       MI,      Y | MI,  H,        // 20-29
        D,       H,       MI,      D | MI,  H,       D,       D,       MI,      Y | MI,  D,        // 30-39
        MI,      MO,      H,       MI,      MI,      H,       Y | MO,  MO | H,  H,       D,        // 40-49
        H | MI,  MO,      H,       D | MI,  MO | MI, D,       Y | MO,  H,       MO | H,  H,        // 50-59
        H | MI,  H,       H,       MI,      MO | MI, D,       Y | MO,  MO,      H,       D | H,    // 60-69
        D,       H,       Y | MI,  D | MI,  D,       D | H,   D | H,   D,       Y | MI,  D,        // 70-79
        H | MI,  MO | H,  D,       D | MI,  MO | MI, D,       Y | MO,  MO | H,  H,       D,        // 80-89
        D | H,   D,       Y | MI,  D | MI,  H,       D | H,   D,       D | MI,  Y | MI,  D,        // 90-99
        MI,      MO,      H,       D,       MI,      H,       Y,       H,       MO,      H,        // 100-106, 107 x3
    };
}();

// ---- What the adjusters take ----------------------------------------------

// How far to move a date, field by field.
struct DateOffsets {
    std::int32_t year;
    std::int32_t month;
    std::int32_t day;
    std::int32_t hour;
    std::int32_t minute;
};

// The five result slots the step hands to the working copies.
struct DateSlots {
    std::int32_t* minute;
    std::int32_t* hour;
    std::int32_t* day;
    std::int32_t* month;
    std::int32_t* year;
};

// ---- The copy families ---------------------------------------------------

template <int L>
struct LeapYearTest {
    // 1 for a leap year of the Gregorian rule, else 0; any year, negative too.
    [[gnu::noinline]] static std::int32_t is_leap_year(std::int32_t year);
};

template <int T>
struct MonthTable {
    // The months that follow a thirty-day month: 5, 7, 10, 12. Writable
    // storage, so every scan reads it from memory like any other private data.
    static std::int32_t after_30_day_months[4];
};

// A dispatcher copy of the working variant, with its own working date (the
// year is base_year itself), adjusters and month test.
template <int N, int Leap, int Table>
struct WorkingDate {
    static std::int32_t work_hour;
    static std::int32_t work_minute;
    static std::int32_t work_day;
    static std::int32_t work_month;

    [[gnu::noinline]] static std::int32_t follows_30_day_month(std::int32_t month);
    [[gnu::noinline]] static void working_forward(const DateOffsets& by, const DateSlots& slots);
    [[gnu::noinline]] static void working_backward(const DateOffsets& by, const DateSlots& slots);
    [[gnu::noinline]] static void adjust_working_date(std::int32_t direction, const DateOffsets& by,
                                                      const DateSlots& slots)
        requires(N != 0);
    // As adjust_working_date, then, for an amount above 875, the Julian day
    // of the adjusted date into julian_result.
    [[gnu::noinline]] static void adjust_date_with_julian(std::int32_t direction, const DateOffsets& by,
                                                          const DateSlots& slots, std::int32_t amount)
        requires(N == 0);
};

// A dispatcher copy of the record variant: adjusts the date of one record of
// long_records in place.
template <int N, int Leap, int Table>
struct RecordDate {
    [[gnu::noinline]] static std::int32_t follows_30_day_month(std::int32_t month);
    [[gnu::noinline]] static void record_forward(std::int32_t record_index, const DateOffsets& by);
    [[gnu::noinline]] static void record_backward(std::int32_t record_index, const DateOffsets& by);
    // Brings the record back to the base date, then adjusts it.
    [[gnu::noinline]] static void reset_record_date(std::int32_t record_index, std::int32_t direction,
                                                    const DateOffsets& by)
        requires(is_reset_dispatcher(N));
    [[gnu::noinline]] static void adjust_record_date(std::int32_t record_index, std::int32_t direction,
                                                     const DateOffsets& by)
        requires(!is_reset_dispatcher(N));
};

template <int N>
using WorkingCopy = WorkingDate<N, leap_year_copy(N), month_table_copy(N)>;
template <int N>
using RecordCopy = RecordDate<N, leap_year_copy(N), month_table_copy(N)>;

// ---- The step's cases ----------------------------------------------------

// Performs case k (0 to 107) of the date step: moves a date by m through the
// case's own dispatcher copies. record is the record whose date the record
// cases adjust; amount gates case 0's Julian day.
void perform_date_case(std::int32_t k, std::int32_t record, std::int32_t amount, std::int32_t m,
                       const DateSlots& slots);
