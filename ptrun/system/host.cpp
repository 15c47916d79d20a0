#include "system/host.h"

#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

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

bool is_executable_file(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

std::string temporary_base(std::string& error) {
    const char* given = std::getenv("TMPDIR");
    const bool set = given != nullptr && *given != '\0';
    const std::string base = set ? given : "/tmp";
    const std::string named = set ? "TMPDIR=" + base : base + " (TMPDIR is unset)";
    std::error_code ignored;
    if (!fs::is_directory(base, ignored) || access(base.c_str(), W_OK | X_OK) != 0) {
        error = named + " is not a folder ptrun may write: set TMPDIR to one";
        return "";
    }
    // Permissions do not tell it all (root may "write" /proc): a folder made
    // and removed again does, before any build is checked or run.
    std::string probe = (fs::path(base) / "ptrun-XXXXXX").string();
    if (mkdtemp(probe.data()) == nullptr) {
        error = named + " is not a folder ptrun may write (" + std::strerror(errno) + "): set TMPDIR to one";
        return "";
    }
    rmdir(probe.c_str());
    return base;
}

}  // namespace ptrun
