// The host on POSIX (Linux): the kernel's own calls, and coreutils for a
// file's digest.
#include "system/host.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "system/process.h"

namespace ptrun {

namespace fs = std::filesystem;

std::vector<int> usable_processors() {
    std::vector<int> cpus;
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
            if (CPU_ISSET(cpu, &set)) cpus.push_back(cpu);
        }
    }
    if (cpus.empty()) cpus.push_back(0);
    return cpus;
}

HostDescription describe_host() {
    HostDescription host;
    char name[256] = "";
    if (gethostname(name, sizeof name - 1) == 0) host.hostname = name;
    utsname names{};
    if (uname(&names) == 0) host.system = std::string(names.sysname) + " " + names.release + " " + names.machine;
    host.logical = sysconf(_SC_NPROCESSORS_ONLN);
    // What /proc/meminfo calls MemTotal.
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long page = sysconf(_SC_PAGESIZE);
    if (pages > 0 && page > 0) host.memory_bytes = static_cast<unsigned long long>(pages) * static_cast<unsigned>(page);
    return host;
}

std::optional<std::array<double, 3>> load_average() {
    std::array<double, 3> load{};
    if (getloadavg(load.data(), 3) != 3) return std::nullopt;
    return load;
}

std::vector<ProcessorSpeed> processor_speeds(const std::vector<int>&) { return {}; }

// sha256sum reads the file on its standard input: given the name instead,
// it escapes a name holding a backslash or a line break and then begins its
// line with a backslash, so the same binary under such a name would show
// another digest. (coreutils is on every Debian system; an in-process hash
// would need a crypto library ptrun does not otherwise use.)
std::string sha256_of_file(const std::string& path) {
    Launch launch;
    launch.command = {"sha256sum"};
    launch.search_path = true;
    launch.input = path;
    const Captured sum = capture(launch, 4096, 30);
    if (!sum.succeeded() || sum.output.size() < 64 || sum.output.find_first_not_of("0123456789abcdef") < 64) {
        return "unknown";
    }
    return sum.output.substr(0, 64);
}

std::string program_file(const std::string& name) { return name; }

std::string own_directory() {
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    return error ? std::string(".") : self.parent_path().string();
}

bool is_executable_file(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

std::string start_problem(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string head(256, '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<std::size_t>(in.gcount()));
    if (head.rfind("\x7f" "ELF", 0) == 0) return "";
    if (head.rfind("#!", 0) != 0) return "pt at " + path + " is neither a program nor a script: it cannot be started";
    const std::string line = head.substr(2, head.find('\n') - 2);
    const std::size_t from = line.find_first_not_of(" \t");
    const std::string interpreter =
        from == std::string::npos ? "" : line.substr(from, line.find_first_of(" \t\r", from) - from);
    if (!is_executable_file(interpreter)) {
        return "pt at " + path + " cannot be started: its interpreter \"" + interpreter + "\" is not a program";
    }
    return "";
}

bool may_write_in(const std::string& folder) {
    std::error_code ignored;
    return fs::is_directory(folder, ignored) && access(folder.c_str(), W_OK | X_OK) == 0;
}

std::string make_private_folder(const std::string& base, std::string& error) {
    std::string pattern = (fs::path(base) / "ptrun-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        error = std::strerror(errno);
        return "";
    }
    return pattern;
}

std::string temporary_base(std::string& error) {
    const char* given = std::getenv("TMPDIR");
    const bool set = given != nullptr && *given != '\0';
    const std::string base = set ? given : "/tmp";
    const std::string named = set ? "TMPDIR=" + base : base + " (TMPDIR is unset)";
    if (!may_write_in(base)) {
        error = named + " is not a folder ptrun may write: set TMPDIR to one";
        return "";
    }
    // Permissions do not tell it all (root may "write" /proc): a folder made
    // and removed again does, before any build is checked or run.
    std::string why;
    const std::string probe = make_private_folder(base, why);
    if (probe.empty()) {
        error = named + " is not a folder ptrun may write (" + why + "): set TMPDIR to one";
        return "";
    }
    rmdir(probe.c_str());
    return base;
}

void unpredictable_bytes(unsigned char* bytes, std::size_t count) {
    const int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    bool read_all = false;
    if (fd >= 0) {
        read_all = read(fd, bytes, count) == static_cast<ssize_t>(count);
        close(fd);
    }
    if (read_all) return;
    // Time and process id, mixed, where there is no random source.
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    std::uint64_t mix = static_cast<std::uint64_t>(now.tv_sec) * 1000000007ull ^
                        static_cast<std::uint64_t>(now.tv_nsec) << 20 ^ static_cast<std::uint64_t>(getpid());
    for (std::size_t i = 0; i < count; ++i) {
        mix = mix * 6364136223846793005ull + 1442695040888963407ull;
        bytes[i] = static_cast<unsigned char>(mix >> 56);
    }
}

bool standard_error_is_terminal() { return isatty(STDERR_FILENO) != 0; }

}  // namespace ptrun
