#include <array>
#include <utility>

#include "workload/workload.h"
#include "modules/dates/date_copies.h"
#include "modules/dates/dates.h"

std::int32_t base_year;
std::int32_t base_month;
std::int32_t base_day;
std::int32_t base_hour;
std::int32_t base_minute;
std::int32_t date_phase;
std::int32_t out_minute;
std::int32_t out_hour;
std::int32_t out_day;
std::int32_t out_month;
std::int32_t date_cursor;
std::int32_t julian_result;

namespace {

// Records visited per call and the modulus that turns a selector into a
// case, by date_phase. The early phases keep to the first cases; the last
// two reach all 108.
constexpr std::int32_t kRecordsPerCall[10] = {17, 37, 37, 37, 37, 37, 37, 67, 87, 110};
constexpr std::int32_t kCaseModulus[10] = {20, 20, 20, 30, 30, 30, 57, 67, 109, 109};
constexpr std::int32_t kPhaseCount = 10;
constexpr std::int32_t kFallbackCase = 10;

// One call of dispatcher copy N with offset m in the copy's fields.
template <int N>
[[gnu::always_inline]] inline void call_dispatcher(std::int32_t record, std::int32_t amount, std::int32_t m,
                                                   const DateSlots& slots) {
    constexpr std::uint8_t fields = kDispatcherFields[N];
    const DateOffsets by{
        (fields & kYearField) != 0 ? m : 0, (fields & kMonthField) != 0 ? m : 0, (fields & kDayField) != 0 ? m : 0,
        (fields & kHourField) != 0 ? m : 0, (fields & kMinuteField) != 0 ? m : 0,
    };
    if constexpr (N == 0) {
        WorkingCopy<N>::adjust_date_with_julian(m, by, slots, amount);
    } else if constexpr (N < kWorkingDispatchers) {
        WorkingCopy<N>::adjust_working_date(m, by, slots);
    } else if constexpr (is_reset_dispatcher(N)) {
        RecordCopy<N>::reset_record_date(record, m, by);
    } else {
        RecordCopy<N>::adjust_record_date(record, m, by);
    }
}

// Case 107 moves its record three times, each through a copy of its own.
template <int K>
void perform_case(std::int32_t record, std::int32_t amount, std::int32_t m, const DateSlots& slots) {
    if constexpr (K == kDateCaseCount - 1) {
        call_dispatcher<K>(record, amount, m, slots);
        call_dispatcher<K + 1>(record, amount, m, slots);
        call_dispatcher<K + 2>(record, amount, m, slots);
    } else {
        call_dispatcher<K>(record, amount, m, slots);
    }
}

using CaseRoutine = void (*)(std::int32_t, std::int32_t, std::int32_t, const DateSlots&);

template <std::size_t... K>
constexpr std::array<CaseRoutine, sizeof...(K)> make_case_table(std::index_sequence<K...>) {
    return {&perform_case<static_cast<int>(K)>...};
}

constexpr std::array<CaseRoutine, kDateCaseCount> kCaseTable =
    make_case_table(std::make_index_sequence<kDateCaseCount>{});

}  // namespace

void perform_date_case(std::int32_t k, std::int32_t record, std::int32_t amount, std::int32_t m,
                       const DateSlots& slots) {
    if (k >= 0 && k < kDateCaseCount) kCaseTable[static_cast<std::size_t>(k)](record, amount, m, slots);
}

void date_step(std::int32_t* minute_slot, std::int32_t* hour_slot, std::int32_t* day_slot, std::int32_t* month_slot,
               std::int32_t* year_slot) {
    const DateSlots slots{minute_slot, hour_slot, day_slot, month_slot, year_slot};
    const std::int32_t records = kRecordsPerCall[date_phase];
    const std::int32_t modulus = kCaseModulus[date_phase];
    for (std::int32_t i = 0; i < records; ++i) {
        // The cursor runs 2, 4, ..., 698, 1, 3, ..., 699, 2, ...: it never
        // returns to 0, so record c - 1 always exists.
        date_cursor += 2;
        if (date_cursor >= kRecordCount) date_cursor -= kRecordCount - 1;
        const std::int32_t c = date_cursor;
        const std::int32_t m = long_records[c - 1].offset;
        std::int32_t k = long_records[c].selector % modulus - 1;
        if (k == -1) k = kFallbackCase;
        // The Julian day of case 0 is gated by the record at the loop index,
        // not at the cursor.
        perform_date_case(k, c, long_records[i].amount, m, slots);
    }
    ++date_phase;
    if (date_phase == kPhaseCount) date_phase = 0;
}
