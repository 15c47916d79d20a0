#include <cassert>
#include <cstddef>
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
constexpr std::size_t kThreeRecords = 3 * sizeof(WorkRecord);
constexpr std::size_t kTwoRecords = 2 * sizeof(WorkRecord);

// Where fragments start: at text fields.
constexpr std::size_t kText1 = offsetof(WorkRecord, text1);
constexpr std::size_t kText2 = offsetof(WorkRecord, text2);
constexpr std::size_t kExpression = offsetof(WorkRecord, expression);

// Fragments cross field boundaries, so copies work on the records as bytes.
// They cross text fields only: a fragment that reached an integer field
// would move part of an integer, whose bytes lie in a different order on a
// big-endian machine, and the work would then depend on the machine. The
// offsets and the length the copy is made for (Length, the constant that
// set_copy_sizes puts into the size passed, which a debug build asserts)
// are checked against the first integer field at compile time. Source and destination may overlap when
// the index table names the destination record itself; the destination then
// lies below the source, and a move gives what an ascending word copy gives.
template <std::size_t ToOffset, std::size_t FromOffset, std::int32_t Length>
inline void copy_bytes(WorkRecord* to_table, std::int32_t to_record, const WorkRecord* from_table,
                       std::int32_t from_record, std::int32_t size) {
    constexpr std::size_t first_integer = offsetof(WorkRecord, offset);
    static_assert(ToOffset + Length <= first_integer && FromOffset + Length <= first_integer,
                  "a byte copy of the workload must not split an integer field");
    assert(size == Length);
    std::memmove(reinterpret_cast<unsigned char*>(&to_table[to_record]) + ToOffset,
                 reinterpret_cast<const unsigned char*>(&from_table[from_record]) + FromOffset,
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

    copy_bytes<kText1, kText1, kCopySizeA>(L, T[k], L, k - 1, copy_size_a);
    L[k].category = S[p].category;
    copy_bytes<kText1, kText2, kCopySizeB>(L, k + 1, L, T[k - 1], copy_size_b);
    copy_bytes<kText1, kExpression, kCopySizeC>(L, T[k + 2], L, T[k - 2], copy_size_c);
    copy_bytes<kText1, kText2, kCopySizeB>(L, k + 1, L, T[k - 2], copy_size_b);
    copy_bytes<kExpression, kExpression, kCopySizeC>(L, k + 3, L, k - 4, copy_size_c);
    copy_bytes<kText1, kText1, kCopySizeB>(L, k + 1, L, p, copy_size_b);
    copy_bytes<kText1, kText1, kCopySizeA>(S, k - 4, L, p, copy_size_a);

    // Whole records: no field is split.
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
