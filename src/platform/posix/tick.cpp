#include "platform/platform.h"

#include <ctime>

namespace {

std::uint32_t monotonic_milliseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    // Truncation to 32 bits is intended: callers take unsigned differences,
    // which stay right across the wrap.
    const auto ms = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                    static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<std::uint32_t>(ms);
}

TickSource current_source = monotonic_milliseconds;

}  // namespace

std::uint32_t tick_count() { return current_source(); }

void set_tick_source(TickSource source) {
    current_source = source != nullptr ? source : monotonic_milliseconds;
}
