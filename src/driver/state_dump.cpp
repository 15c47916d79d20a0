#include "driver/state_dump.h"

#include <bit>
#include <cstddef>
#include <cstring>

#include "modules/copy/copy.h"
#include "modules/database/database.h"
#include "modules/dates/dates.h"
#include "modules/library/library.h"
#include "modules/parse/parse.h"
#include "modules/words/words.h"
#include "workload/workload.h"

// The frame is little-endian. On a little-endian machine that is the memory
// image, copied whole (the fast path ptverify and the checks run on); a
// big-endian machine writes its integers byte by byte.
static_assert(std::endian::native == std::endian::little || std::endian::native == std::endian::big,
              "a machine of mixed byte order");

const StateInteger kStateIntegers[kStateIntegerCount] = {
    {"copy_call_counter", &copy_call_counter},
    {"copy_ring_pos", &copy_ring_pos},
    {"copy_calls_left", &copy_calls_left},
    {"copy_size_a", &copy_size_a},
    {"copy_size_b", &copy_size_b},
    {"copy_size_c", &copy_size_c},
    {"base_year", &base_year},
    {"base_month", &base_month},
    {"base_day", &base_day},
    {"base_hour", &base_hour},
    {"base_minute", &base_minute},
    {"date_phase", &date_phase},
    {"date_cursor", &date_cursor},
    {"out_minute", &out_minute},
    {"out_hour", &out_hour},
    {"out_day", &out_day},
    {"out_month", &out_month},
    {"julian_result", &julian_result},
    {"word_phase", &word_phase},
    {"word_position", &word_position},
    {"parse_phase", &parse_phase},
    {"parse_cursor", &parse_cursor},
    {"library_phase", &library_phase},
    {"library_cursor", &library_cursor},
    {"database_limit", &database_limit},
    {"go_intern", &go_intern},
    {"module_seed", &module_seed},
    {"mix1", &mix1},
    {"mix2", &mix2},
    {"mix3", &mix3},
    {"mix4", &mix4},
    {"mix5", &mix5},
    {"mix6", &mix6},
    {"mix7", &mix7},
    {"mix8", &mix8},
    {"mix9", &mix9},
    {"group_key", &group_key},
    {"group_sum_a", &group_sum_a},
    {"group_sum_b", &group_sum_b},
    {"group_low_count", &group_low_count},
    {"group_min", &group_min},
    {"group_max", &group_max},
    {"total_sum", &total_sum},
    {"total_high_count", &total_high_count},
    {"overall_min", &overall_min},
    {"overall_max", &overall_max},
    {"final_max", &final_max},
};

namespace {

void read_state_integers(std::int32_t (&values)[kStateIntegerCount]) {
    for (std::size_t i = 0; i < kStateIntegerCount; ++i) values[i] = *kStateIntegers[i].variable;
}

void append_bytes(std::vector<unsigned char>& frame, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    frame.insert(frame.end(), bytes, bytes + size);
}

// Where the int32 fields of a frame's object lie: the bytes from integers_begin
// to integers_end; every other byte is text.
template <typename T>
struct IntegerFields;
template <>
struct IntegerFields<WorkRecord> {
    static constexpr std::size_t begin = offsetof(WorkRecord, offset);
    static constexpr std::size_t end = offsetof(WorkRecord, vowel_base) + sizeof(std::int32_t);
};
template <>
struct IntegerFields<DbRecord> {
    static constexpr std::size_t begin = offsetof(DbRecord, id);
    static constexpr std::size_t end = offsetof(DbRecord, value3) + sizeof(std::int32_t);
};
template <>
struct IntegerFields<std::int32_t> {
    [[maybe_unused]] static constexpr std::size_t begin = 0;
    [[maybe_unused]] static constexpr std::size_t end = sizeof(std::int32_t);
};
static_assert(IntegerFields<WorkRecord>::end - IntegerFields<WorkRecord>::begin == 12 * sizeof(std::int32_t));
static_assert(IntegerFields<DbRecord>::end - IntegerFields<DbRecord>::begin == 6 * sizeof(std::int32_t));

[[maybe_unused]] void append_little_endian(std::vector<unsigned char>& frame, const unsigned char* integer) {
    std::uint32_t value;
    std::memcpy(&value, integer, sizeof value);
    for (int shift = 0; shift < 32; shift += 8) frame.push_back(static_cast<unsigned char>(value >> shift));
}

// count objects as the frame holds them.
template <typename T>
void append_objects(std::vector<unsigned char>& frame, const T* objects, std::size_t count) {
    if constexpr (std::endian::native == std::endian::little) {
        append_bytes(frame, objects, count * sizeof(T));
    } else {
        using Fields = IntegerFields<T>;
        for (std::size_t i = 0; i < count; ++i) {
            const auto* bytes = reinterpret_cast<const unsigned char*>(&objects[i]);
            append_bytes(frame, bytes, Fields::begin);
            for (std::size_t at = Fields::begin; at < Fields::end; at += sizeof(std::int32_t)) {
                append_little_endian(frame, bytes + at);
            }
            append_bytes(frame, bytes + Fields::end, sizeof(T) - Fields::end);
        }
    }
}

void append_slots(std::vector<unsigned char>& frame, const DbRecord* block, int first, int count) {
    if (block != nullptr) {
        append_objects(frame, block + first, static_cast<std::size_t>(count));
    } else {
        frame.resize(frame.size() + static_cast<std::size_t>(count) * sizeof(DbRecord), 0);
    }
}

}  // namespace

void append_state_frame(std::vector<unsigned char>& frame) {
    append_objects(frame, long_records, kRecordCount);
    append_objects(frame, short_records, kRecordCount);
    append_objects(frame, index_table, kRecordCount);
    std::int32_t values[kStateIntegerCount];
    read_state_integers(values);
    append_objects(frame, values, kStateIntegerCount);
    append_slots(frame, db_table, 0, kDbSlots);
    append_slots(frame, selection_buffer, 1, 100);
    append_slots(frame, flagged_buffer, 1, 50);
}

std::uint64_t frame_digest(const unsigned char* bytes, std::size_t size) {
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (std::size_t i = 0; i < size; ++i) {
        hash ^= bytes[i];
        hash *= 0x100000001b3ull;
    }
    return hash;
}
