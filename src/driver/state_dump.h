// The workload state as one byte frame, for verification: the same frame
// after the same work means the same computation, to the last bit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Layout, little-endian, no padding between parts:
//   long_records, short_records (700 records of 272 bytes each),
//   index_table (700 int32), the 47 state integers in kStateIntegers order,
//   database slots 0..1000, selection slots 1..100, flagged slots 1..50
//   (136 bytes each; zero bytes for a block that does not exist).
inline constexpr std::size_t kStateIntegerCount = 47;

// A state integer of the frame and where it lives.
struct StateInteger {
    const char* name;
    const std::int32_t* variable;
};
extern const StateInteger kStateIntegers[kStateIntegerCount];

inline constexpr std::size_t kStateFrameSize =
    2 * 700 * 272 + 700 * 4 + kStateIntegerCount * 4 + (1001 + 100 + 50) * 136;

// Appends the current frame to frame.
void append_state_frame(std::vector<unsigned char>& frame);

// 64-bit FNV-1a over bytes.
std::uint64_t frame_digest(const unsigned char* bytes, std::size_t size);
