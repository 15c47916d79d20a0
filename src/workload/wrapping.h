// 32-bit arithmetic that wraps as the machine word does, without undefined
// behaviour. Record years drift without bound over a long-lived process, and
// the Julian day routine accepts any integers.
#pragma once

#include <cstdint>

constexpr std::int32_t wrapping_add(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

constexpr std::int32_t wrapping_multiply(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) * static_cast<std::uint32_t>(b));
}
