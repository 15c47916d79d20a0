// Windows gives a program its processor's event counters only through a
// kernel driver, which pt does not install: the profile there has times and
// no counters.
#include <windows.h>

#include <cstdio>

#include "platform/platform.h"

std::uint64_t monotonic_ns() {
    LARGE_INTEGER frequency;
    LARGE_INTEGER now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    const auto ticks = static_cast<std::uint64_t>(now.QuadPart);
    const auto per_second = static_cast<std::uint64_t>(frequency.QuadPart);
    // Whole seconds and the rest apart, so that the product cannot overflow.
    return ticks / per_second * 1000000000u + ticks % per_second * 1000000000u / per_second;
}

namespace {

void open_group(CounterOpening& opening) {
    for (std::size_t event = 0; event < kCounterEventCount; ++event) {
        opening.available[event] = false;
        std::snprintf(opening.reason[event], sizeof opening.reason[event], "%s",
                      "Windows offers programs no hardware counters without a kernel driver");
    }
}

void do_nothing() {}

CounterReading read_nothing() { return CounterReading{{}, false}; }

constexpr CounterSource kHardwareCounters = {open_group, do_nothing, do_nothing, read_nothing, do_nothing};

}  // namespace

const CounterSource& hardware_counters() { return kHardwareCounters; }
