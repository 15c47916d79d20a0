// Data copy module: the memory-bandwidth part of the work unit.
#pragma once

#include <cstdint>

// The module's state; the work unit resets all three at its start and counts
// copy_calls_left down after every call.
extern std::int32_t copy_call_counter;
extern std::int32_t copy_ring_pos;
extern std::int32_t copy_calls_left;

// One call copies eight record fragments between the work tables, at a
// position that moves round a ring of 350 records, and every hundred calls
// three of them also copy two or three whole records.
void copy_step();
