#include "modules/dates/date_copies.h"

#include "workload/workload.h"
#include "modules/dates/bcd.h"
#include "modules/dates/dates.h"
#include "workload/replicas.h"
#include "workload/wrapping.h"

namespace {

// The calendar arithmetic itself, written once and inlined into every
// adjuster copy, so each copy is a whole routine of its own that calls only
// its own month test and its own leap-year test.

using LeapTestRoutine = std::int32_t (*)(std::int32_t);
using MonthTestRoutine = std::int32_t (*)(std::int32_t);

[[gnu::always_inline]] inline void add_offsets(std::int32_t& year, std::int32_t& month, std::int32_t& day,
                                               std::int32_t& hour, std::int32_t& minute, const DateOffsets& by) {
    minute = wrapping_add(minute, by.minute);
    hour = wrapping_add(hour, by.hour);
    day = wrapping_add(day, by.day);
    month = wrapping_add(month, by.month);
    year = wrapping_add(year, by.year);
}

// Carries upward. The month pass repeats only while the day is above 31, not
// above the current month's length, so a carry over several months can stop
// on a day past the end of a shorter month (31 January + 30 days is day 30 of
// month 2); and a month above 12 from a month offset counts as a 31-day month
// in the first pass, before it is wrapped.
template <LeapTestRoutine is_leap_year>
[[gnu::always_inline]] inline void forward_adjustment(std::int32_t& year, std::int32_t& month, std::int32_t& day,
                                                      std::int32_t& hour, std::int32_t& minute,
                                                      const DateOffsets& by) {
    add_offsets(year, month, day, hour, minute, by);
    while (minute >= 60) {
        ++hour;
        minute -= 60;
    }
    while (hour >= 24) {
        ++day;
        hour -= 24;
    }
    do {
        if (day >= 29 && month == 2) {
            if (is_leap_year(year) != 0) {
                if (day >= 30) {
                    ++month;
                    day -= 29;
                }
            } else {
                ++month;
                day -= 28;
            }
        } else if (day >= 31 && (month == 4 || month == 6 || month == 9 || month == 11)) {
            ++month;
            day -= 30;
        } else if (day >= 32) {
            ++month;
            day -= 31;
        }
        while (month > 12) {
            month -= 12;
            year = wrapping_add(year, 1);
        }
    } while (day > 31);
}

// Borrows downward. The year is wrapped only after all days are borrowed, so
// months of 0 and below count as following a 31-day month: 5 January minus
// 40 days is 27 November of the year before.
template <LeapTestRoutine is_leap_year, MonthTestRoutine follows_30_day_month>
[[gnu::always_inline]] inline void backward_adjustment(std::int32_t& year, std::int32_t& month, std::int32_t& day,
                                                       std::int32_t& hour, std::int32_t& minute,
                                                       const DateOffsets& by) {
    add_offsets(year, month, day, hour, minute, by);
    while (minute < 0) {
        --hour;
        minute += 60;
    }
    while (hour < 0) {
        --day;
        hour += 24;
    }
    while (day < 1) {
        if (follows_30_day_month(month) != 0) {
            day += 30;
        } else if (month == 3) {
            day += is_leap_year(year) != 0 ? 29 : 28;
        } else {
            day += 31;
        }
        --month;
    }
    while (month < 1) {
        month += 12;
        year = wrapping_add(year, -1);
    }
}

template <int Table>
[[gnu::always_inline]] inline std::int32_t scan_after_30_day_months(std::int32_t month) {
    for (const std::int32_t entry : MonthTable<Table>::after_30_day_months) {
        if (entry == month) return 1;
    }
    return 0;
}

// The working copies hand their result back through the caller's slots.
template <class Copy>
[[gnu::always_inline]] inline void write_slots(const DateSlots& slots) {
    *slots.minute = Copy::work_minute;
    *slots.hour = Copy::work_hour;
    *slots.day = Copy::work_day;
    *slots.month = Copy::work_month;
    *slots.year = base_year;
}

// A working dispatcher starts from the base date every time; only the year
// (base_year itself) carries over from one call to the next.
template <class Copy>
[[gnu::always_inline]] inline void dispatch_working(std::int32_t direction, const DateOffsets& by,
                                                    const DateSlots& slots) {
    Copy::work_hour = base_hour;
    Copy::work_minute = base_minute;
    Copy::work_day = base_day;
    Copy::work_month = base_month;
    if (direction < 0) {
        Copy::working_backward(by, slots);
    } else {
        Copy::working_forward(by, slots);
    }
}

// A direction of 0 moves forward: with all offsets 0 that still normalizes.
template <class Copy>
[[gnu::always_inline]] inline void dispatch_record(std::int32_t record_index, std::int32_t direction,
                                                   const DateOffsets& by) {
    if (direction < 0) {
        Copy::record_backward(record_index, by);
    } else {
        Copy::record_forward(record_index, by);
    }
}

}  // namespace

// ---- Leap-year tests and month tables --------------------------------------

template <int L>
std::int32_t LeapYearTest<L>::is_leap_year(std::int32_t year) {
    return (year % 4 == 0 && (year % 100 != 0 || year % 400 == 0)) ? 1 : 0;
}

template <int T>
std::int32_t MonthTable<T>::after_30_day_months[4] = {5, 7, 10, 12};

// ---- Working variant -------------------------------------------------------

template <int N, int Leap, int Table>
std::int32_t WorkingDate<N, Leap, Table>::work_hour;
template <int N, int Leap, int Table>
std::int32_t WorkingDate<N, Leap, Table>::work_minute;
template <int N, int Leap, int Table>
std::int32_t WorkingDate<N, Leap, Table>::work_day;
template <int N, int Leap, int Table>
std::int32_t WorkingDate<N, Leap, Table>::work_month;

template <int N, int Leap, int Table>
std::int32_t WorkingDate<N, Leap, Table>::follows_30_day_month(std::int32_t month) {
    return scan_after_30_day_months<Table>(month);
}

template <int N, int Leap, int Table>
void WorkingDate<N, Leap, Table>::working_forward(const DateOffsets& by, const DateSlots& slots) {
    forward_adjustment<&LeapYearTest<Leap>::is_leap_year>(base_year, work_month, work_day, work_hour, work_minute, by);
    write_slots<WorkingDate>(slots);
}

template <int N, int Leap, int Table>
void WorkingDate<N, Leap, Table>::working_backward(const DateOffsets& by, const DateSlots& slots) {
    backward_adjustment<&LeapYearTest<Leap>::is_leap_year, &follows_30_day_month>(base_year, work_month, work_day,
                                                                                   work_hour, work_minute, by);
    write_slots<WorkingDate>(slots);
}

// ---- Record variant --------------------------------------------------------

template <int N, int Leap, int Table>
std::int32_t RecordDate<N, Leap, Table>::follows_30_day_month(std::int32_t month) {
    return scan_after_30_day_months<Table>(month);
}

template <int N, int Leap, int Table>
void RecordDate<N, Leap, Table>::record_forward(std::int32_t record_index, const DateOffsets& by) {
    WorkRecord& r = long_records[record_index];
    forward_adjustment<&LeapYearTest<Leap>::is_leap_year>(r.year, r.month, r.day, r.hour, r.minute, by);
}

template <int N, int Leap, int Table>
void RecordDate<N, Leap, Table>::record_backward(std::int32_t record_index, const DateOffsets& by) {
    WorkRecord& r = long_records[record_index];
    backward_adjustment<&LeapYearTest<Leap>::is_leap_year, &follows_30_day_month>(r.year, r.month, r.day, r.hour,
                                                                                   r.minute, by);
}

// ---- Every copy, one by one ------------------------------------------------
// Copy n of the dispatchers is wired by its number.

#define PT_LEAP_YEAR_TEST(n) template struct LeapYearTest<n>;
#define PT_MONTH_TABLE(n) template struct MonthTable<n>;
#define PT_WORKING_COPY(n) template struct WorkingDate<(n), leap_year_copy(n), month_table_copy(n)>;
#define PT_RECORD_COPY(n) template struct RecordDate<(n), leap_year_copy(n), month_table_copy(n)>;

PT_TEN_COPIES(PT_LEAP_YEAR_TEST, 1)
PT_LEAP_YEAR_TEST(11) PT_LEAP_YEAR_TEST(12) PT_LEAP_YEAR_TEST(13) PT_LEAP_YEAR_TEST(14)

PT_TEN_COPIES(PT_MONTH_TABLE, 1)
PT_MONTH_TABLE(11)

PT_TEN_COPIES(PT_WORKING_COPY, 0)
PT_TEN_COPIES(PT_RECORD_COPY, 10)
PT_TEN_COPIES(PT_RECORD_COPY, 20)
PT_TEN_COPIES(PT_RECORD_COPY, 30)
PT_TEN_COPIES(PT_RECORD_COPY, 40)
PT_TEN_COPIES(PT_RECORD_COPY, 50)
PT_TEN_COPIES(PT_RECORD_COPY, 60)
PT_TEN_COPIES(PT_RECORD_COPY, 70)
PT_TEN_COPIES(PT_RECORD_COPY, 80)
PT_TEN_COPIES(PT_RECORD_COPY, 90)
PT_TEN_COPIES(PT_RECORD_COPY, 100)


// ---- The dispatchers ------------------------------------------------------
//
// Each copy has exactly one dispatcher, chosen by its constraint. They are
// defined only here, after the classes have been instantiated, and then
// instantiated one by one: a compiler that instantiates every member of a
// class it is told to instantiate, constraints or not (Clang 14 does), would
// otherwise add a never-called body of the other kind to every copy.

template <int N, int Leap, int Table>
void WorkingDate<N, Leap, Table>::adjust_working_date(std::int32_t direction, const DateOffsets& by,
                                                      const DateSlots& slots)
    requires(N != 0)
{
    dispatch_working<WorkingDate>(direction, by, slots);
}

template <int N, int Leap, int Table>
void WorkingDate<N, Leap, Table>::adjust_date_with_julian(std::int32_t direction, const DateOffsets& by,
                                                          const DateSlots& slots, std::int32_t amount)
    requires(N == 0)
{
    dispatch_working<WorkingDate>(direction, by, slots);
    if (amount > 875) julian_result = julian_day(work_day, work_month, base_year);
}

template <int N, int Leap, int Table>
void RecordDate<N, Leap, Table>::reset_record_date(std::int32_t record_index, std::int32_t direction,
                                                   const DateOffsets& by)
    requires(is_reset_dispatcher(N))
{
    WorkRecord& r = long_records[record_index];
    r.year = base_year;
    r.month = base_month;
    r.day = base_day;
    r.hour = base_hour;
    r.minute = base_minute;
    dispatch_record<RecordDate>(record_index, direction, by);
}

template <int N, int Leap, int Table>
void RecordDate<N, Leap, Table>::adjust_record_date(std::int32_t record_index, std::int32_t direction,
                                                    const DateOffsets& by)
    requires(!is_reset_dispatcher(N))
{
    dispatch_record<RecordDate>(record_index, direction, by);
}

#define PT_WORKING_DISPATCHER(n) \
    template void WorkingCopy<(n)>::adjust_working_date(std::int32_t, const DateOffsets&, const DateSlots&);
#define PT_RECORD_DISPATCHER(n) \
    template void RecordCopy<(n)>::adjust_record_date(std::int32_t, std::int32_t, const DateOffsets&);
#define PT_RESET_DISPATCHER(n) \
    template void RecordCopy<(n)>::reset_record_date(std::int32_t, std::int32_t, const DateOffsets&);

template void WorkingCopy<0>::adjust_date_with_julian(std::int32_t, const DateOffsets&, const DateSlots&,
                                                      std::int32_t);
PT_WORKING_DISPATCHER(1) PT_WORKING_DISPATCHER(2) PT_WORKING_DISPATCHER(3)
PT_WORKING_DISPATCHER(4) PT_WORKING_DISPATCHER(5) PT_WORKING_DISPATCHER(6)
PT_WORKING_DISPATCHER(7) PT_WORKING_DISPATCHER(8) PT_WORKING_DISPATCHER(9)
// Copy 10 * tens resets the record first; the nine after it adjust it.
#define PT_RECORD_TENS(tens)                                                                                 \
    PT_RESET_DISPATCHER(10 * (tens))                                                                         \
    PT_RECORD_DISPATCHER(10 * (tens) + 1) PT_RECORD_DISPATCHER(10 * (tens) + 2) PT_RECORD_DISPATCHER(10 * (tens) + 3) \
    PT_RECORD_DISPATCHER(10 * (tens) + 4) PT_RECORD_DISPATCHER(10 * (tens) + 5) PT_RECORD_DISPATCHER(10 * (tens) + 6) \
    PT_RECORD_DISPATCHER(10 * (tens) + 7) PT_RECORD_DISPATCHER(10 * (tens) + 8) PT_RECORD_DISPATCHER(10 * (tens) + 9)
PT_RECORD_TENS(1)
PT_RECORD_TENS(2)
PT_RECORD_TENS(3)
PT_RECORD_TENS(4)
PT_RECORD_TENS(5)
PT_RECORD_TENS(6)
PT_RECORD_TENS(7)
PT_RECORD_TENS(8)
PT_RECORD_TENS(9)
PT_RECORD_TENS(10)

#undef PT_RECORD_TENS
#undef PT_RESET_DISPATCHER
#undef PT_RECORD_DISPATCHER
#undef PT_WORKING_DISPATCHER
#undef PT_RECORD_COPY
#undef PT_WORKING_COPY
#undef PT_MONTH_TABLE
#undef PT_LEAP_YEAR_TEST
