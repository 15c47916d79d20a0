// What the benchmark thread gets from the processor, as Windows counts it.
// Windows keeps no count of involuntary context switches per thread and has
// no frequency governor to name.
#include <windows.h>

#include "platform/platform.h"
#include "platform/thread_times.h"

namespace {

std::uint64_t hundred_ns(const FILETIME& time) {
    return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

}  // namespace

ThreadTimes system_thread_times() {
    ThreadTimes times{0, 0, -1};
    LARGE_INTEGER counter;
    LARGE_INTEGER frequency;
    FILETIME created;
    FILETIME ended;
    FILETIME kernel;
    FILETIME user;
    if (QueryPerformanceCounter(&counter) && QueryPerformanceFrequency(&frequency) && frequency.QuadPart > 0 &&
        GetThreadTimes(GetCurrentThread(), &created, &ended, &kernel, &user)) {
        const auto ticks = static_cast<std::uint64_t>(counter.QuadPart);
        const auto per_second = static_cast<std::uint64_t>(frequency.QuadPart);
        times.wall_ns = ticks / per_second * 1000000000u + ticks % per_second * 1000000000u / per_second;
        times.cpu_ns = (hundred_ns(kernel) + hundred_ns(user)) * 100u;
    }
    return times;
}

int processor_governor(int, char* buffer, std::size_t buffer_size) {
    if (buffer_size > 0) buffer[0] = '\0';
    return -1;
}
