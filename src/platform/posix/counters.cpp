// The processor's event counters through perf_event_open: one group for the
// calling thread, user mode only, switched on and off as a whole.
#include "platform/platform.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#if defined(__linux__)
#include <linux/perf_event.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

std::uint64_t monotonic_ns() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000000000u + static_cast<std::uint64_t>(now.tv_nsec);
}

namespace {

#if defined(__linux__) && defined(SYS_perf_event_open)

struct EventKind {
    std::uint32_t type;
    std::uint64_t config;
};

constexpr std::uint64_t cache_miss(std::uint64_t cache) {
    return cache | (PERF_COUNT_HW_CACHE_OP_READ << 8) | (PERF_COUNT_HW_CACHE_RESULT_MISS << 16);
}

constexpr EventKind kEventKinds[kCounterEventCount] = {
    {PERF_TYPE_HARDWARE, PERF_COUNT_HW_INSTRUCTIONS},
    {PERF_TYPE_HARDWARE, PERF_COUNT_HW_CPU_CYCLES},
    {PERF_TYPE_HARDWARE, PERF_COUNT_HW_BRANCH_MISSES},
    {PERF_TYPE_HW_CACHE, cache_miss(PERF_COUNT_HW_CACHE_L1I)},
    {PERF_TYPE_HW_CACHE, cache_miss(PERF_COUNT_HW_CACHE_ITLB)},
};

int group_fd[kCounterEventCount];
// Which event each value of a group read belongs to: the group reads its
// members in the order they joined.
std::size_t member_event[kCounterEventCount];
std::size_t member_count = 0;

int paranoid_level() {
    int level = -100;
    if (FILE* file = std::fopen("/proc/sys/kernel/perf_event_paranoid", "r")) {
        if (std::fscanf(file, "%d", &level) != 1) level = -100;
        std::fclose(file);
    }
    return level;
}

// Why the kernel refused an event, in the words a user can act on.
void explain(int error, char* reason, std::size_t size) {
    const int paranoid = paranoid_level();
    if (error == ENOENT || error == EOPNOTSUPP || error == ENODEV) {
        std::snprintf(reason, size, "the processor offers this system no such counter (no PMU, as in many virtual "
                                    "machines): %s", std::strerror(error));
    } else if ((error == EACCES || error == EPERM) && paranoid > 2) {
        std::snprintf(reason, size, "kernel.perf_event_paranoid is %d, which allows no counters to users: %s",
                      paranoid, std::strerror(error));
    } else if (error == EACCES || error == EPERM) {
        std::snprintf(reason, size, "refused although kernel.perf_event_paranoid is %d (a seccomp filter or a "
                                    "security module): %s", paranoid, std::strerror(error));
    } else if (error == ENOSYS) {
        std::snprintf(reason, size, "the kernel (or an emulator, or a seccomp filter) has no perf_event_open: %s",
                      std::strerror(error));
    } else {
        std::snprintf(reason, size, "perf_event_open failed: %s", std::strerror(error));
    }
}

void open_group(CounterOpening& opening) {
    member_count = 0;
    for (std::size_t event = 0; event < kCounterEventCount; ++event) {
        opening.available[event] = false;
        opening.reason[event][0] = '\0';
        perf_event_attr attr{};
        attr.size = sizeof attr;
        attr.type = kEventKinds[event].type;
        attr.config = kEventKinds[event].config;
        attr.exclude_kernel = 1;
        attr.exclude_hv = 1;
        attr.disabled = member_count == 0 ? 1 : 0;  // the members follow their leader
        attr.read_format = PERF_FORMAT_GROUP | PERF_FORMAT_TOTAL_TIME_ENABLED | PERF_FORMAT_TOTAL_TIME_RUNNING;
        const int leader = member_count == 0 ? -1 : group_fd[0];
        const long fd = syscall(SYS_perf_event_open, &attr, 0, -1, leader, 0UL);
        if (fd < 0) {
            explain(errno, opening.reason[event], sizeof opening.reason[event]);
            continue;
        }
        group_fd[member_count] = static_cast<int>(fd);
        member_event[member_count] = event;
        ++member_count;
        opening.available[event] = true;
    }
}

void switch_group(unsigned long request) {
    if (member_count > 0) ioctl(group_fd[0], request, PERF_IOC_FLAG_GROUP);
}

void enable_group() { switch_group(PERF_EVENT_IOC_ENABLE); }

void disable_group() { switch_group(PERF_EVENT_IOC_DISABLE); }

CounterReading read_group() {
    CounterReading reading{};
    reading.on_processor = false;
    // nr, time enabled, time running, then one value per member.
    std::uint64_t buffer[3 + kCounterEventCount] = {};
    if (member_count == 0) return reading;
    const ssize_t got = ::read(group_fd[0], buffer, sizeof buffer);
    if (got < static_cast<ssize_t>((3 + member_count) * sizeof buffer[0]) || buffer[0] != member_count) return reading;
    for (std::size_t member = 0; member < member_count; ++member) {
        reading.value[member_event[member]] = buffer[3 + member];
    }
    reading.on_processor = buffer[1] == buffer[2];
    return reading;
}

void close_group() {
    for (std::size_t member = 0; member < member_count; ++member) ::close(group_fd[member]);
    member_count = 0;
}

#else

void open_group(CounterOpening& opening) {
    for (std::size_t event = 0; event < kCounterEventCount; ++event) {
        opening.available[event] = false;
        std::snprintf(opening.reason[event], sizeof opening.reason[event], "%s",
                      "this system has no perf_event_open");
    }
}

void enable_group() {}

void disable_group() {}

CounterReading read_group() { return CounterReading{{}, false}; }

void close_group() {}

#endif

constexpr CounterSource kHardwareCounters = {open_group, enable_group, disable_group, read_group, close_group};

}  // namespace

const CounterSource& hardware_counters() { return kHardwareCounters; }
