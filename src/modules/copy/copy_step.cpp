#include <cstdint>
#include <cstring>

#include "workload/workload.h"
#include "modules/copy/copy.h"

std::int32_t copy_call_counter;
std::int32_t copy_ring_pos;
std::int32_t copy_calls_left;

namespace {

constexpr std::int32_t kRingSize = 350;
constexpr std::int32_t kRingStep = 13;
constexpr std::int32_t kLookAheadWrap = 342;
constexpr std::int32_t kWrapModulus = 17;
constexpr std::int32_t kWrapBase = 4;
constexpr std::int32_t kCounterPeriod = 100;
constexpr std::size_t kThreeRecords = 816;
constexpr std::size_t kTwoRecords = 544;

// Fragments cross field boundaries, so copies work on the records as bytes.
// Source and destination may overlap when the index table names the
// destination record itself; the destination then lies below the source, and
// a move gives what an ascending word copy gives.
inline void copy_bytes(WorkRecord* to_table, std::int32_t to_record, std::size_t to_offset,
                       const WorkRecord* from_table, std::int32_t from_record, std::size_t from_offset,
                       std::int32_t size) {
    std::memmove(reinterpret_cast<unsigned char*>(&to_table[to_record]) + to_offset,
                 reinterpret_cast<const unsigned char*>(&from_table[from_record]) + from_offset,
                 static_cast<std::size_t>(size));
}

}  // namespace

void copy_step() {
    WorkRecord* const L = long_records;
    WorkRecord* const S = short_records;
    const std::int32_t* const T = index_table;
    const std::int32_t p = copy_ring_pos;

    std::int32_t k = p + 3;
    if (k >= kRingSize) k -= kLookAheadWrap;

    copy_bytes(L, T[k], 0, L, k - 1, 0, copy_size_a);
    L[k].category = S[p].category;
    copy_bytes(L, k + 1, 0, L, T[k - 1], 64, copy_size_b);
    copy_bytes(L, T[k + 2], 0, L, T[k - 2], 192, copy_size_c);
    copy_bytes(L, k + 1, 0, L, T[k - 2], 64, copy_size_b);
    copy_bytes(L, k + 3, 192, L, k - 4, 192, copy_size_c);
    copy_bytes(L, k + 1, 0, L, p, 0, copy_size_b);
    copy_bytes(S, k - 4, 0, L, p, 0, copy_size_a);

    if (copy_call_counter == 51) {
        std::memmove(&S[k - 4], &L[p], kThreeRecords);
    } else if (copy_call_counter == 33 || copy_call_counter == 77) {
        std::memmove(&S[k - 4], &L[p], kTwoRecords);
    }

    copy_ring_pos = p + kRingStep;
    if (copy_ring_pos >= kRingSize) copy_ring_pos = copy_calls_left % kWrapModulus + kWrapBase;

    ++copy_call_counter;
    if (copy_call_counter == kCounterPeriod) copy_call_counter = 0;
}
