#include "driver/state_dump.h"

#include <bit>
#include <cstring>

#include "modules/copy/copy.h"
#include "modules/database/database.h"
#include "modules/dates/dates.h"
#include "modules/library/library.h"
#include "modules/parse/parse.h"
#include "modules/words/words.h"
#include "workload/workload.h"

static_assert(std::endian::native == std::endian::little, "the frame is the memory image of a little-endian machine");

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

void append_slots(std::vector<unsigned char>& frame, const DbRecord* block, int first, int count) {
    if (block != nullptr) {
        append_bytes(frame, block + first, static_cast<std::size_t>(count) * sizeof(DbRecord));
    } else {
        frame.resize(frame.size() + static_cast<std::size_t>(count) * sizeof(DbRecord), 0);
    }
}

}  // namespace

void append_state_frame(std::vector<unsigned char>& frame) {
    append_bytes(frame, long_records, sizeof long_records);
    append_bytes(frame, short_records, sizeof short_records);
    append_bytes(frame, index_table, sizeof index_table);
    std::int32_t values[kStateIntegerCount];
    read_state_integers(values);
    append_bytes(frame, values, sizeof values);
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
