// What the benchmark thread gets from the processor, as Linux counts it.
#include "platform/platform.h"
#include "platform/thread_times.h"

#include <sched.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

bool read_clock(clockid_t clock, std::uint64_t& ns) {
    timespec now{};
    if (clock_gettime(clock, &now) != 0) return false;
    ns = static_cast<std::uint64_t>(now.tv_sec) * 1000000000u + static_cast<std::uint64_t>(now.tv_nsec);
    return true;
}

}  // namespace

ThreadTimes system_thread_times() {
    ThreadTimes times{0, 0, -1};
    std::uint64_t wall = 0;
    std::uint64_t cpu = 0;
    if (read_clock(CLOCK_MONOTONIC, wall) && read_clock(CLOCK_THREAD_CPUTIME_ID, cpu)) {
        times.wall_ns = wall;
        times.cpu_ns = cpu;
    }
    rusage usage{};
    if (getrusage(RUSAGE_THREAD, &usage) == 0) times.involuntary_switches = usage.ru_nivcsw;
    return times;
}

int processor_governor(int cpu, char* buffer, std::size_t buffer_size) {
    if (buffer_size == 0) return -1;
    buffer[0] = '\0';
    if (cpu < 0) cpu = sched_getcpu();
    if (cpu < 0) return -1;
    char path[96];
    std::snprintf(path, sizeof path, "/sys/devices/system/cpu/cpu%d/cpufreq/scaling_governor", cpu);
    std::FILE* file = std::fopen(path, "r");
    if (file == nullptr) return cpu;
    if (std::fgets(buffer, static_cast<int>(buffer_size), file) == nullptr) buffer[0] = '\0';
    std::fclose(file);
    buffer[std::strcspn(buffer, "\r\n")] = '\0';
    return cpu;
}
