// 32-bit arithmetic that wraps as the machine word does, without undefined
// behaviour: the workload defines its sums and products (record years that
// drift without bound, the Julian day of any integers, vowel totals, the
// evaluators, the database's bookkeeping, the random generator) as wrapping.
#pragma once

#include <cstdint>

constexpr std::int32_t wrapping_add(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

constexpr std::int32_t wrapping_subtract(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}

constexpr std::int32_t wrapping_multiply(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) * static_cast<std::uint32_t>(b));
}

// For longer expressions: evaluate in 64 bits, where a few 32-bit terms
// cannot overflow (wide), and bring the result back to its low 32 bits
// (wrap32) before anything that depends on more than those bits: a division,
// a shift, a comparison, a store.
constexpr std::int64_t wide(std::int32_t value) { return value; }

constexpr std::int32_t wrap32(std::int64_t value) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
}
