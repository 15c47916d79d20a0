// The date adjustment module: calendar arithmetic, its replica copies and
// the scripted date step.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <ostream>
#include <set>
#include <utility>
#include <vector>

#include "driver/work_unit.h"
#include "workload/workload.h"
#include "modules/database/database.h"
#include "modules/dates/bcd.h"
#include "modules/dates/date_copies.h"
#include "modules/dates/dates.h"

namespace {

struct Date {
    std::int32_t year, month, day, hour, minute;
    bool operator==(const Date&) const = default;
};

[[maybe_unused]] std::ostream& operator<<(std::ostream& out, const Date& d) {
    return out << d.year << "-" << d.month << "-" << d.day << " " << d.hour << ":" << d.minute;
}

Date record_date(std::int32_t r) {
    const WorkRecord& w = long_records[r];
    return {w.year, w.month, w.day, w.hour, w.minute};
}

void set_record_date(std::int32_t r, const Date& d) {
    WorkRecord& w = long_records[r];
    w.year = d.year;
    w.month = d.month;
    w.day = d.day;
    w.hour = d.hour;
    w.minute = d.minute;
}

void set_base_date(const Date& d) {
    base_year = d.year;
    base_month = d.month;
    base_day = d.day;
    base_hour = d.hour;
    base_minute = d.minute;
}

constexpr Date kBaseDate{1949, 4, 6, 6, 2};

// Calls f with std::integral_constant<int, N> for every N in [First, Last).
template <int First, class F, int... I>
void for_copies(F&& f, std::integer_sequence<int, I...>) {
    (f(std::integral_constant<int, First + I>{}), ...);
}
template <int First, int Last, class F>
void for_copies(F&& f) {
    for_copies<First>(f, std::make_integer_sequence<int, Last - First>{});
}

// Fresh tables, the base date of a work unit and the step at its start;
// record dates start from zero whatever earlier tests left.
class DateModule : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(setup_workload(), 0);
        set_base_date(kBaseDate);
        date_phase = 0;
        date_cursor = 0;
        for (std::int32_t r = 0; r < kRecordCount; ++r) set_record_date(r, {0, 0, 0, 0, 0});
    }
    void TearDown() override { db_release(); }
    void restart() {
        TearDown();
        SetUp();
    }

    DateSlots slots() { return {&minute_out, &hour_out, &day_out, &month_out, &year_out}; }
    Date slot_date() const { return {year_out, month_out, day_out, hour_out, minute_out}; }

    // Moves record r by m in the given fields through record copy N.
    template <int N>
    Date move_record(std::int32_t r, const Date& start, std::int32_t direction, const Date& offsets) {
        set_record_date(r, start);
        RecordCopy<N>::adjust_record_date(r, direction,
                                          {offsets.year, offsets.month, offsets.day, offsets.hour, offsets.minute});
        return record_date(r);
    }

    std::int32_t minute_out = -1, hour_out = -1, day_out = -1, month_out = -1, year_out = -1;
};

}  // namespace

// ---- Calendar arithmetic ---------------------------------------------------

TEST_F(DateModule, WorkedResultsFromTheBaseDate) {
    struct Row {
        std::int32_t working_case;  // a case whose fields are the ones named
        std::int32_t m;
        Date expected;
    };
    const Row rows[] = {
        {2, 110, {1949, 7, 29, 20, 2}},    // day and hour
        {8, 45, {1949, 5, 21, 6, 47}},     // day and minute
        {1, 110, {1958, 6, 6, 7, 52}},     // month and minute
        {5, 45, {1998, 1, 6, 6, 2}},       // year and month
        {9, -110, {1948, 12, 12, 16, 2}},  // day and hour
        {2, -6, {1949, 3, 31, 0, 2}},      // day and hour
        {3, -6, {1948, 10, 6, 5, 56}},     // month and minute
        {6, -110, {1830, 2, 6, 6, 2}},     // year and month
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.working_case);
        base_year = 1949;
        perform_date_case(row.working_case, 5, 1, row.m, slots());
        EXPECT_EQ(slot_date(), row.expected);
        EXPECT_EQ(base_year, row.expected.year);
    }
}

TEST_F(DateModule, ForwardCarries) {
    // Zero offsets leave a valid date as it is, and a direction of 0 moves
    // forward: the same call normalizes a day past the month's end.
    EXPECT_EQ((move_record<11>(7, {2023, 7, 15, 13, 45}, 5, {0, 0, 0, 0, 0})), (Date{2023, 7, 15, 13, 45}));
    EXPECT_EQ((move_record<11>(7, {1949, 1, 40, 0, 0}, 0, {0, 0, 0, 0, 0})), (Date{1949, 2, 9, 0, 0}));
    EXPECT_EQ((move_record<13>(7, {1999, 12, 31, 23, 59}, 1, {0, 0, 0, 0, 1})), (Date{2000, 1, 1, 0, 0}));
    // The month pass stops once the day is 31 or less, not at the month's end.
    EXPECT_EQ((move_record<11>(7, {1949, 1, 31, 12, 0}, 30, {0, 0, 30, 0, 0})), (Date{1949, 2, 30, 12, 0}));
    // 29 February stays in a leap year only.
    EXPECT_EQ((move_record<11>(7, {1948, 2, 28, 0, 0}, 1, {0, 0, 1, 0, 0})), (Date{1948, 2, 29, 0, 0}));
    EXPECT_EQ((move_record<11>(7, {1949, 2, 28, 0, 0}, 1, {0, 0, 1, 0, 0})), (Date{1949, 3, 1, 0, 0}));
    // A month above 12 counts as a 31-day month until it is wrapped.
    EXPECT_EQ((move_record<41>(7, {1949, 6, 31, 0, 0}, 10, {0, 10, 0, 0, 0})), (Date{1950, 4, 31, 0, 0}));
    EXPECT_EQ((move_record<41>(7, {1949, 1, 30, 0, 0}, 13, {0, 13, 0, 0, 0})), (Date{1950, 2, 30, 0, 0}));
}

TEST_F(DateModule, BackwardBorrows) {
    // Day 0 of March borrows February's length of that year.
    EXPECT_EQ((move_record<11>(7, {1949, 3, 1, 0, 0}, -1, {0, 0, -1, 0, 0})), (Date{1949, 2, 28, 0, 0}));
    EXPECT_EQ((move_record<11>(7, {1948, 3, 1, 0, 0}, -1, {0, 0, -1, 0, 0})), (Date{1948, 2, 29, 0, 0}));
    EXPECT_EQ((move_record<11>(7, {1900, 3, 1, 0, 0}, -1, {0, 0, -1, 0, 0})), (Date{1900, 2, 28, 0, 0}));
    EXPECT_EQ((move_record<11>(7, {2000, 3, 1, 0, 0}, -1, {0, 0, -1, 0, 0})), (Date{2000, 2, 29, 0, 0}));
    // Months of 0 and below borrow 31 days, since the year wraps last.
    EXPECT_EQ((move_record<11>(7, {1949, 1, 5, 8, 0}, -40, {0, 0, -40, 0, 0})), (Date{1948, 11, 27, 8, 0}));
    EXPECT_EQ((move_record<11>(7, {1949, 5, 1, 0, 0}, -1, {0, 0, -1, 0, 0})), (Date{1949, 4, 30, 0, 0}));
    EXPECT_EQ((move_record<13>(7, {2000, 1, 1, 0, 0}, -1, {0, 0, 0, 0, -1})), (Date{1999, 12, 31, 23, 59}));
}

TEST_F(DateModule, AZeroRecordDateMovesByFiftyHours) {
    EXPECT_EQ((move_record<14>(9, {0, 0, 0, 0, 0}, 50, {0, 0, 0, 50, 0})), (Date{0, 0, 2, 2, 0}));
    EXPECT_EQ((move_record<14>(9, {0, 0, 0, 0, 0}, -50, {0, 0, 0, -50, 0})), (Date{-1, 11, 28, 22, 0}));
}

TEST_F(DateModule, EveryAdjusterCopyKnowsLeapYearsAndThirtyDayMonths) {
    for_copies<10, 110>([&](auto n) {
        constexpr int N = decltype(n)::value;
        SCOPED_TRACE(N);
        for (const std::int32_t year : {1900, 1948, 1949, 2000}) {
            const bool leap = year == 1948 || year == 2000;
            set_record_date(3, {year, 3, 1, 0, 0});
            RecordCopy<N>::record_backward(3, {0, 0, -1, 0, 0});
            EXPECT_EQ(record_date(3), (Date{year, 2, leap ? 29 : 28, 0, 0}));
            set_record_date(3, {year, 2, 28, 0, 0});
            RecordCopy<N>::record_forward(3, {0, 0, 1, 0, 0});
            EXPECT_EQ(record_date(3), leap ? (Date{year, 2, 29, 0, 0}) : (Date{year, 3, 1, 0, 0}));
        }
        for (const std::int32_t month : {5, 7, 10, 12}) {
            set_record_date(3, {1949, month, 1, 0, 0});
            RecordCopy<N>::record_backward(3, {0, 0, -1, 0, 0});
            EXPECT_EQ(record_date(3), (Date{1949, month - 1, 30, 0, 0}));
        }
    });
    for_copies<0, 10>([&](auto n) {
        constexpr int N = decltype(n)::value;
        SCOPED_TRACE(N);
        using Copy = WorkingCopy<N>;
        Copy::work_month = 3;
        Copy::work_day = 1;
        Copy::work_hour = 0;
        Copy::work_minute = 0;
        base_year = 2000;
        Copy::working_backward({0, 0, -1, 0, 0}, slots());
        EXPECT_EQ(slot_date(), (Date{2000, 2, 29, 0, 0}));
        Copy::work_month = 12;
        Copy::work_day = 1;
        Copy::working_backward({0, 0, -1, 0, 0}, slots());
        EXPECT_EQ(slot_date(), (Date{2000, 11, 30, 0, 0}));
    });
}

TEST_F(DateModule, WorkingCopiesStartFromTheBaseDateAndCarryOnlyTheYear) {
    // Year and month back by 110 (case 6) three times: the year accumulates,
    // the month starts from April every time.
    for (int call = 1; call <= 3; ++call) {
        perform_date_case(6, 5, 1, -110, slots());
        EXPECT_EQ(slot_date(), (Date{1949 - 119 * call, 2, 6, 6, 2}));
    }
    EXPECT_EQ(base_year, 1949 - 3 * 119);
    EXPECT_EQ(base_month, 4);
    EXPECT_EQ(base_day, 6);
    EXPECT_EQ(base_hour, 6);
    EXPECT_EQ(base_minute, 2);
    // The adjusted date stays in the copy's working fields.
    EXPECT_EQ(WorkingCopy<6>::work_month, 2);
    EXPECT_EQ(WorkingCopy<6>::work_day, 6);
}

TEST_F(DateModule, ResetCopiesStartFromTheBaseDate) {
    set_record_date(12, {1, 2, 3, 4, 5});
    base_year = 2001;
    perform_date_case(10, 12, 1, 30, slots());  // hour, reset
    EXPECT_EQ(record_date(12), (Date{2001, 4, 7, 12, 2}));
    perform_date_case(11, 12, 1, 30, slots());  // day, from where the record is
    EXPECT_EQ(record_date(12), (Date{2001, 5, 7, 12, 2}));
}

// ---- Replica copies --------------------------------------------------------

TEST_F(DateModule, EveryMonthTableCopyStartsWithTheMonthsAfterThirtyDayMonths) {
    for_copies<1, 12>([&](auto n) {
        const std::int32_t* table = MonthTable<decltype(n)::value>::after_30_day_months;
        EXPECT_EQ(std::vector<std::int32_t>(table, table + 4), (std::vector<std::int32_t>{5, 7, 10, 12}));
    });
}

TEST_F(DateModule, LeapYearCopiesAreWiredAsTheCopiesTableSays) {
    std::set<int> working;
    for (int n = 0; n < 10; ++n) working.insert(leap_year_copy(n));
    EXPECT_EQ(working, (std::set<int>{1, 2}));
    EXPECT_EQ(leap_year_copy(2), 1);
    // Six plain copies have a test of their own; each group's other copies
    // share one, groups 2 and 3 with group 1, groups 5 and 6 with group 4.
    std::set<int> own;
    for (const int n : {16, 45, 71, 81, 97, 102}) {
        own.insert(leap_year_copy(n));
        for (int other = 10; other < 110; ++other) {
            if (other != n) {
                EXPECT_NE(leap_year_copy(other), leap_year_copy(n)) << other;
            }
        }
    }
    EXPECT_EQ(own.size(), 6u);
    for (const int g : {2, 3}) EXPECT_EQ(leap_year_copy(10 * g + 5), leap_year_copy(10));
    for (const int g : {5, 6}) EXPECT_EQ(leap_year_copy(10 * g + 5), leap_year_copy(40));
    std::set<int> all;
    for (int n = 0; n < 110; ++n) all.insert(leap_year_copy(n));
    EXPECT_EQ(all.size(), 14u);
    EXPECT_EQ(*all.begin(), 1);
    EXPECT_EQ(*all.rbegin(), 14);
}

TEST_F(DateModule, EachWorkingCaseReachesItsOwnCopy) {
    for (std::int32_t k = 0; k < 10; ++k) {
        SCOPED_TRACE(k);
        for_copies<0, 10>([&](auto n) { WorkingCopy<decltype(n)::value>::work_hour = -7; });
        perform_date_case(k, 5, 1, 3, slots());
        for_copies<0, 10>([&](auto n) {
            constexpr int N = decltype(n)::value;
            EXPECT_EQ(WorkingCopy<N>::work_hour != -7, N == k) << N;
        });
    }
}

namespace {

// Record r moved back by 1 through case k from a date chosen so that exactly
// one borrow asks the month test about May.
Date borrow_through_may(std::int32_t k, std::int32_t r) {
    const std::uint8_t fields = kDispatcherFields[k];
    const bool borrows_days = (fields & (kDayField | kHourField | kMinuteField)) != 0;
    const bool month_first = (fields & kMonthField) != 0 && k != kDateCaseCount - 1;
    const Date start{1949, month_first ? 6 : 5, borrows_days ? 1 : 0, 0, 0};
    set_base_date(start);
    set_record_date(r, start);
    const DateSlots unused{};
    perform_date_case(k, r, 1, -1, unused);
    return record_date(r);
}

}  // namespace

TEST_F(DateModule, EachRecordGroupScansItsOwnMonthTable) {
    std::int32_t* const tables[kMonthTables + 1] = {
        nullptr,
        MonthTable<1>::after_30_day_months,
        MonthTable<2>::after_30_day_months,
        MonthTable<3>::after_30_day_months,
        MonthTable<4>::after_30_day_months,
        MonthTable<5>::after_30_day_months,
        MonthTable<6>::after_30_day_months,
        MonthTable<7>::after_30_day_months,
        MonthTable<8>::after_30_day_months,
        MonthTable<9>::after_30_day_months,
        MonthTable<10>::after_30_day_months,
        MonthTable<11>::after_30_day_months,
    };
    for (std::int32_t k = 10; k < kDateCaseCount; ++k) {
        SCOPED_TRACE(k);
        const std::int32_t own = k / 10 + 1;
        const Date normal = borrow_through_may(k, 20);
        // Emptying another copy of the table changes nothing for this case...
        const std::int32_t other = own == kMonthTables ? 1 : own + 1;
        tables[other][0] = 0;
        EXPECT_EQ(borrow_through_may(k, 20), normal);
        tables[other][0] = 5;
        // ...emptying its own makes May follow a 31-day month.
        tables[own][0] = 0;
        const Date changed = borrow_through_may(k, 20);
        tables[own][0] = 5;
        EXPECT_EQ(changed.day, normal.day + 1);
    }
}

// ---- The date step ---------------------------------------------------------

namespace {

// Makes every visited record take the same case and move by the offset of
// the record before it: 1 to 7 in turn.
void script_records(std::int32_t selector) {
    for (std::int32_t r = 0; r < kRecordCount; ++r) {
        long_records[r].selector = selector;
        long_records[r].offset = r % 7 + 1;
    }
}

void step() { date_step(&out_minute, &out_hour, &out_day, &out_month, &base_year); }

}  // namespace

TEST_F(DateModule, FirstCallVisitsEveryOtherRecordFromTwo) {
    script_records(11);  // phase 0: case 10, reset and move by m hours
    step();
    EXPECT_EQ(date_cursor, 34);
    EXPECT_EQ(date_phase, 1);
    for (std::int32_t r = 0; r < kRecordCount; ++r) {
        SCOPED_TRACE(r);
        if (r >= 2 && r <= 34 && r % 2 == 0) {
            const std::int32_t m = long_records[r - 1].offset;
            EXPECT_EQ(record_date(r), (Date{1949, 4, 6, 6 + m, 2}));
        } else {
            EXPECT_EQ(record_date(r), (Date{0, 0, 0, 0, 0}));
        }
    }
}

TEST_F(DateModule, CursorWrapsToTheOtherParity) {
    script_records(11);
    date_cursor = 698 - 2 * 17;  // the call's 17th record is 698
    step();
    EXPECT_EQ(date_cursor, 698);
    date_phase = 0;
    step();
    EXPECT_EQ(date_cursor, 1 + 2 * 16);
    EXPECT_NE(record_date(1), (Date{0, 0, 0, 0, 0}));
    date_cursor = 699 - 2 * 17;
    date_phase = 0;
    step();
    EXPECT_EQ(date_cursor, 699);
    date_phase = 0;
    step();
    EXPECT_EQ(date_cursor, 2 + 2 * 16);
    EXPECT_EQ(long_records[0].year, 0);  // record 0 is never visited
}

TEST_F(DateModule, PhasesSetRecordsPerCallAndCycleThroughTen) {
    const std::int32_t records_per_call[10] = {17, 37, 37, 37, 37, 37, 37, 67, 87, 110};
    script_records(11);
    std::int32_t visited = 0;
    for (std::int32_t call = 0; call < 20; ++call) {
        EXPECT_EQ(date_phase, call % 10);
        step();
        visited += records_per_call[call % 10];
        // The cursor walks 2, 4, ..., 698, 1, 3, ..., 699, 2, ...
        const std::int32_t expected = (2 * visited) % 699;
        EXPECT_EQ(date_cursor, expected == 0 ? 699 : expected);
    }
    EXPECT_EQ(visited, 2 * 503);
}

TEST_F(DateModule, SelectorsPickCasesByThePhasesModulus) {
    // 20 and 40 leave no remainder in phase 0: both fall back to case 10,
    // as 11 does.
    for (const std::int32_t selector : {11, 20, 40}) {
        SCOPED_TRACE(selector);
        restart();
        script_records(selector);
        step();
        EXPECT_EQ(record_date(2), (Date{1949, 4, 6, 6 + long_records[1].offset, 2}));
    }

    // Selector 108: phases 8 and 9 perform case 107, hour, month, hour.
    for (const std::int32_t phase : {8, 9}) {
        restart();
        script_records(108);
        for (std::int32_t r = 0; r < kRecordCount; ++r) set_record_date(r, {2000, 6, 15, 12, 0});
        date_phase = phase;
        step();
        const std::int32_t m = long_records[1].offset;
        EXPECT_EQ(record_date(2), (Date{2000, 6 + m, 15, 12 + 2 * m, 0})) << phase;
    }
    // Elsewhere case (108 mod f) - 1: 7 (working), 17, 50 and 40.
    struct Expectation {
        std::int32_t phase;
        std::int32_t k;
    };
    for (const Expectation e : {Expectation{0, 7}, Expectation{3, 17}, Expectation{6, 50}, Expectation{7, 40}}) {
        SCOPED_TRACE(e.phase);
        restart();
        script_records(108);
        const Date start{2000, 6, 15, 12, 0};
        for (std::int32_t r = 0; r < kRecordCount; ++r) set_record_date(r, start);
        date_phase = e.phase;
        step();
        const std::int32_t m = long_records[1].offset;
        const Date expected = e.k == 7    ? start  // the working case leaves records alone
                              : e.k == 17 ? Date{2000, 6, 15, 12, m}
                              : e.k == 50 ? Date{1949, 4, 6, 6 + m, 2 + m}
                                          : Date{1949, 4, 6, 6, 2 + m};
        EXPECT_EQ(record_date(2), expected);
        if (e.k == 7) {
            EXPECT_GT(base_year, 1949);  // year and minute moved forward
        }
    }
}

TEST_F(DateModule, SelectorOneIsTheJulianCaseInEveryPhase) {
    for (std::int32_t phase = 0; phase < 10; ++phase) {
        SCOPED_TRACE(phase);
        restart();
        script_records(1);
        WorkingCopy<0>::work_hour = -7;
        date_phase = phase;
        step();
        EXPECT_NE(WorkingCopy<0>::work_hour, -7);
        EXPECT_EQ(record_date(2), (Date{0, 0, 0, 0, 0}));
    }
}

TEST_F(DateModule, JulianDayIsGatedByTheAmountOfTheLoopsRecord) {
    script_records(1);  // case 0 everywhere: month and minute move by m
    // Loop records 0 to 16 at the limit; the records under the cursor far above it.
    for (std::int32_t r = 0; r < kRecordCount; ++r) long_records[r].amount = r < 17 ? 875 : 1000;
    julian_result = -1;
    step();
    EXPECT_EQ(julian_result, -1);

    restart();
    script_records(1);
    for (std::int32_t r = 0; r < kRecordCount; ++r) long_records[r].amount = r == 16 ? 876 : 875;
    julian_result = -1;
    step();
    EXPECT_EQ(julian_result, julian_day(WorkingCopy<0>::work_day, WorkingCopy<0>::work_month, base_year));
    EXPECT_GT(julian_result, 2433013);  // months only forward from April 1949
}

TEST_F(DateModule, AWorkUnitRunsTheStep123Times) {
    out_month = -1;
    out_day = -1;
    run_work_unit();
    EXPECT_EQ(date_phase, 3);
    // 6127 records visited: twelve cycles of the ten phases and three calls.
    EXPECT_EQ(date_cursor, (2 * 6127) % 699);
    EXPECT_GE(out_month, 1);
    EXPECT_LE(out_month, 12);
    EXPECT_GE(out_day, 1);
    EXPECT_LE(out_day, 31);
}
