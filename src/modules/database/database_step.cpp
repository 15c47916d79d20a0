// The database step: a fixed report over the sorted table (groups, ranges,
// two selections), threaded through the bookkeeping arithmetic of db_mix.
#include <cstdlib>

#include "workload/workload.h"
#include "modules/database/database.h"
#include "workload/report_error.h"
#include "workload/wrapping.h"

std::int32_t database_limit;
std::int32_t mix1, mix2, mix3, mix4, mix5, mix6, mix7, mix8, mix9;
std::int32_t anchor;
std::int32_t group_key, group_sum_a, group_sum_b, group_low_count, group_min, group_max;
std::int32_t total_sum, total_high_count, overall_min, overall_max, final_max;

namespace {

constexpr std::int32_t kRanges = 10;
constexpr std::int32_t kRangeStride = 100;
constexpr std::int32_t kRangeWidth = 10;
constexpr std::int32_t kLowValueLimit = 1001;  // value1 below this counts as low, above 1000 as high
constexpr std::int32_t kSelectionLimit = kSelectionSlots - 2;  // 100: one more record still fits
constexpr std::int32_t kFlaggedLimit = kFlaggedSlots - 2;      // 50
constexpr std::int32_t kFlaggedSorted = 50;

DbRecord* allocate_slots(int slots) {
    return static_cast<DbRecord*>(db_allocator(static_cast<std::size_t>(slots) * sizeof(DbRecord)));
}

// A selection that would overflow its buffer: the buffer goes before the
// report, so nothing is left to a later run.
[[noreturn]] void drop_buffer_and_report(DbRecord*& buffer) {
    std::free(buffer);
    buffer = nullptr;
    report_error("Database test - SIZEERROR");
}

// The step runs with its buffers present; they are made by the first step of
// a run and kept until the release.
void ensure_buffer(DbRecord*& buffer, int slots) {
    if (buffer != nullptr) return;
    buffer = allocate_slots(slots);
    if (buffer == nullptr) report_error("Database test - ALLOCERROR");
}

}  // namespace

void db_mix(std::int32_t x, const DbRecord& rec) {
    anchor = db_table[1].value2;

    mix2 = wrap32(wide(mix7) + x);
    mix1 = wrap32(wide(mix9) - (mix8 >> 2));
    mix3 = wrap32(wide(mix8) - mix9) & 255;
    mix4 = (mix7 & 255) + 10;

    // Buckets act in bands of four; a bucket outside 0..91 falls to the
    // default band.
    mix5 = rec.bucket >> 2;
    switch (mix5) {
        case 0:
            mix6 = wrap32(wide(mix6) + 5);
            break;
        case 1:
            mix1 = 137;
            mix6 = wrap32(wide(mix6) + 1);
            break;
        case 2:
        case 4:
        case 8:
            mix6 = wrap32(wide(mix6) + 2);
            break;
        case 3:
            mix1 = 8;
            mix2 = 2;
            mix3 = 7;
            mix6 = mix6 >> 4;
            break;
        case 5:
        case 9:
        case 11:
        case 13:
            mix6 = wrap32(wide(mix6) + 1);
            break;
        case 6:
            mix1 = 24;
            mix6 = wrap32(wide(mix6) * 4);
            break;
        case 7:
            mix3 = 108;
            mix6 = wrap32(wide(mix6) + 1);
            break;
        case 10:
            mix1 = 8;
            mix3 = 8;
            mix2 = 7;
            break;
        case 12:
            mix1 = 24;
            mix6 = wrap32(wide(mix6) + 2);
            break;
        case 14:
            mix2 = 8;
            mix6 = wrap32(wide(mix6) + 2);
            break;
        case 15:
        case 18:
        case 19:
            mix6 = wrap32(wide(mix6) - 1);
            break;
        case 16:
        case 22:
            mix6 = wrap32(wide(mix6) - 2);
            break;
        case 17:
            mix2 = 10;
            mix6 = wrap32(wide(mix6) - 1);
            break;
        case 20:
            mix3 = 108;
            mix4 = 108;
            mix1 = 24;
            break;
        case 21:
            mix1 = 108;
            mix4 = 7;
            mix6 = wrap32(wide(mix6) + 1);
            break;
        default:
            mix6 = wrap32(wide(mix6) - 8);
            break;
    }

    mix7 = wrap32(7 * wide(mix5) + mix6 - mix2);
    mix9 = wrap32(4 * wide(mix5) + mix1 - mix6);
    if (mix5 >= 0) mix8 = wrap32(wide(mix6) + mix3);

    mix3 = wrap32(wide(mix3) + rec.value1);
    const std::int32_t t = wrap32(wide(mix6) + anchor + mix4);
    mix6 = wrap32(wide(t) + 3);
    mix4 = wrap32(wide(t) + mix3);
    std::int32_t n = wrap32(wide(t) + mix3 + mix5 - 7) / 3;
    mix3 = n;
    n = wrap32(wide(n) + mix5);
    mix2 = wrap32(3 * wide(n));
    mix1 = wrap32(wrap32(3 * wide(n) + mix3) / 2 + wide(mix3) - mix5);

    std::int32_t h;
    if (mix5 < 2) {
        mix4 = wrap32(5 * wide(mix5) + 5 * wide(mix6) - 7);
        mix2 = n / 11 - 1;
        mix1 = wrap32(wide(n / 11) + mix3 + 1);
        h = wrap32(2 * wide(mix1) - mix3 - mix5 + 6);
    } else {
        mix6 = wrap32(wide(wrap32((wide(mix6) + mix4 + 12) * 7) / 5) + 7);
        mix4 = wrap32(3 * wide(mix4) - 3 * wide(mix3) + 9);
        mix2 = wrap32(7 * wide(n) + 3);
        h = wrap32(7 * wide(n) - mix3 - 29);
    }

    const std::int32_t c = static_cast<unsigned char>(rec.digit);
    mix2 = wrap32(wide(mix2) + c);
    mix1 = wrap32(wide(h) + c / 3);
    mix5 = 0;

    while (mix5 < database_limit) {
        mix3 = wrap32(wide(mix3) + mix1 - mix2 + 37);
        mix5 += 1;
        mix2 = wrap32(wide(mix3) + mix6 - mix4 + 2);
        mix4 = wrap32(wide(mix4) + 1);
    }

    mix7 = wrap32(wide(wrap32(wide(mix5) + mix6) / 3) + mix6 - mix2);
    mix4 = wrap32(7 * wide(mix2) + mix3 - c / 7);
    mix3 = wrap32(wide(mix3) + mix2 + mix1);
    mix6 = wrap32(wide(mix3) - mix4);
}

namespace db_query {

namespace {

// One past the last slot of the group that starts at slot i.
std::int32_t group_end(std::int32_t i) {
    const std::int32_t key = db_table[i].bucket;
    std::int32_t end = i;
    while (end <= kDbRecords && db_table[end].bucket == key) ++end;
    return end;
}

std::int32_t sum_value2(std::int32_t lo, std::int32_t end) {
    std::int32_t sum = 0;
    for (std::int32_t s = lo; s < end; ++s) sum = wrapping_add(sum, db_table[s].value2);
    return sum;
}

template <typename Counts>
std::int32_t count_value1(std::int32_t lo, std::int32_t end, Counts counts) {
    std::int32_t count = 0;
    for (std::int32_t s = lo; s < end; ++s) count += counts(db_table[s].value1) ? 1 : 0;
    return count;
}

std::int32_t min_value2(std::int32_t lo, std::int32_t end, std::int32_t start) {
    std::int32_t low = start;
    for (std::int32_t s = lo; s < end; ++s) low = db_table[s].value2 < low ? db_table[s].value2 : low;
    return low;
}

std::int32_t max_value2(std::int32_t lo, std::int32_t end, std::int32_t start) {
    std::int32_t high = start;
    for (std::int32_t s = lo; s < end; ++s) high = db_table[s].value2 > high ? db_table[s].value2 : high;
    return high;
}

bool is_low(std::int32_t value1) { return value1 < kLowValueLimit; }
bool is_high(std::int32_t value1) { return value1 >= kLowValueLimit; }

}  // namespace

std::int32_t group_sum(std::int32_t i) { return sum_value2(i, group_end(i)); }
std::int32_t group_low_count(std::int32_t i) { return count_value1(i, group_end(i), is_low); }
std::int32_t group_min(std::int32_t i) { return min_value2(i, group_end(i), db_table[i].value2); }
std::int32_t group_max(std::int32_t i) { return max_value2(i, group_end(i), 0); }

std::int32_t range_sum(std::int32_t lo, std::int32_t hi) { return sum_value2(lo, hi + 1); }
std::int32_t range_high_count(std::int32_t lo, std::int32_t hi) { return count_value1(lo, hi + 1, is_high); }
std::int32_t range_min(std::int32_t lo, std::int32_t hi) { return min_value2(lo, hi + 1, db_table[lo].value2); }
std::int32_t range_max(std::int32_t lo, std::int32_t hi) { return max_value2(lo, hi + 1, db_table[lo].value2); }

}  // namespace db_query

namespace {

void run_groups() {
    std::int32_t index = 1;
    for (;;) {
        mix6 = 0;
        db_mix(index, db_table[index]);
        group_key = db_table[index].bucket;
        group_sum_a = db_query::group_sum(index);
        group_sum_b = db_query::group_sum(index);
        db_mix(index, db_table[index]);
        group_low_count = db_query::group_low_count(index);
        group_min = db_query::group_min(index);
        group_max = db_query::group_max(index);

        // Every record of the group costs one block, always on its first record.
        std::int32_t i = index;
        while (i <= kDbRecords && db_table[i].bucket == group_key) {
            db_mix(index, db_table[index]);
            ++i;
        }
        if (i > kDbRecords) break;
        index = i;
    }
    // The ranges keep mixing on the last group's first record.
    total_sum = 0;
    total_high_count = 0;
    overall_min = -1;
    overall_max = 0;
    for (std::int32_t j = 0; j < kRanges; ++j) {
        const std::int32_t lo = kRangeStride * j + 1;
        const std::int32_t hi = lo + kRangeWidth - 1;
        total_sum = wrap32(wide(total_sum) + db_query::range_sum(lo, hi));
        db_mix(index, db_table[index]);
        total_high_count += db_query::range_high_count(lo, hi);
        // A running minimum of 0 or less (the initial -1 means none yet) is
        // replaced by the next range's minimum.
        const std::int32_t m = db_query::range_min(lo, hi);
        if (!(overall_min > 0 && overall_min < m)) overall_min = m;
        db_mix(index, db_table[index]);
        const std::int32_t top = db_query::range_max(lo, hi);
        if (top > overall_max) overall_max = top;
    }
    final_max = overall_max;
}

}  // namespace

std::int32_t database_step() {
    run_groups();

    ensure_buffer(selection_buffer, kSelectionSlots);
    std::int32_t k = 0;
    for (std::int32_t src = 1; src <= kDbRecords; ++src) {
        if (db_table[src].digit != '1') continue;
        if (k > kSelectionLimit) drop_buffer_and_report(selection_buffer);
        db_mix(k, db_table[k]);
        ++k;
        selection_buffer[k] = db_table[src];
    }

    // A missing flagged buffer would leave the step's work undone while the
    // run went on to a score, so it is reported like the selection buffer.
    ensure_buffer(flagged_buffer, kFlaggedSlots);
    std::int32_t selected = 0;
    for (std::int32_t src = 1; src <= kDbRecords; ++src) {
        if (db_table[src].flag == '1') {
            if (selected > kFlaggedLimit) drop_buffer_and_report(flagged_buffer);
            ++selected;
            flagged_buffer[selected] = db_table[src];
        }
        db_mix(selected, db_table[selected]);
    }
    db_sort(flagged_buffer, 3, 1, kFlaggedSorted);
    return 0;
}
