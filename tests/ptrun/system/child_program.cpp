// The child the process handle's tests start, the same on every system:
//   exit K       exits with K
//   print N      prints N bytes on standard output
//   hang         waits until it is ended
//   tree FILE    starts "hang" as a child of its own, notes that child's id in FILE, and hangs
//   spin S       uses S seconds of processor time, then exits 0
//   affinity     prints the logical processors it may run on
//   args ...     prints each argument on a line of its own
#ifdef _WIN32
#include <windows.h>
#else
#include <sched.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

namespace {

double processor_seconds() {
#ifdef _WIN32
    FILETIME created, ended, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user);
    const auto ticks = [](const FILETIME& t) {
        return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 1e7;
#else
    return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
#endif
}

[[noreturn]] void hang() {
    for (;;) {
#ifdef _WIN32
        Sleep(1000);
#else
        pause();
#endif
    }
}

long start_hanging_child([[maybe_unused]] const char* self) {
#ifdef _WIN32
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string line = std::string("\"") + path + "\" hang";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    if (!CreateProcessA(path, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child)) return -1;
    return static_cast<long>(child.dwProcessId);
#else
    const pid_t child = fork();
    if (child == 0) {
        execl(self, self, "hang", static_cast<char*>(nullptr));
        _exit(127);
    }
    return child;
#endif
}

void print_affinity() {
#ifdef _WIN32
    DWORD_PTR own = 0, all = 0;
    GetProcessAffinityMask(GetCurrentProcess(), &own, &all);
    for (unsigned bit = 0; bit < sizeof own * 8; ++bit) {
        if ((own >> bit) & 1u) std::printf("%u\n", bit);
    }
#else
    cpu_set_t set;
    sched_getaffinity(0, sizeof set, &set);
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
        if (CPU_ISSET(cpu, &set)) std::printf("%d\n", cpu);
    }
#endif
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "exit" && argc > 2) return std::atoi(argv[2]);
    if (mode == "print" && argc > 2) {
        for (long i = std::atol(argv[2]); i > 0; --i) std::putchar('x');
        return 0;
    }
    if (mode == "hang") hang();
    if (mode == "tree" && argc > 2) {
        const long child = start_hanging_child(argv[0]);
        std::FILE* note = std::fopen(argv[2], "w");
        if (note == nullptr || child < 0) return 3;
        std::fprintf(note, "%ld\n", child);
        std::fclose(note);
        hang();
    }
    if (mode == "spin" && argc > 2) {
        const double seconds = std::atof(argv[2]);
        volatile unsigned long long sum = 0;
        while (processor_seconds() < seconds) {
            for (int i = 0; i < 100000; ++i) sum = sum + static_cast<unsigned long long>(i);
        }
        return 0;
    }
    if (mode == "affinity") {
        print_affinity();
        return 0;
    }
    if (mode == "args") {
        for (int i = 2; i < argc; ++i) std::printf("%s\n", argv[i]);
        return 0;
    }
    return 2;
}
