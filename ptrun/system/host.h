// What ptrun asks of the system it runs on, beside its child processes: the
// processors, the host's description, files and folders, the terminal.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace ptrun {

// The logical processors this process may run on, in ascending order. On
// Windows they are numbered across processor groups: group 0's first, then
// group 1's, and so on.
std::vector<int> usable_processors();

// The host as its system describes it; what the system does not tell is
// left empty (0 for a count).
struct HostDescription {
    std::string hostname;
    std::string system;         // "Linux 6.1.0-18-amd64 x86_64", "Windows 10.0 build 19045.3930 (22H2) x86-64"
    std::string processor;      // the processor's name where the system names it (Windows)
    std::string processor_ids;  // the identification it names it from ("Intel64 Family 6 Model 158 Stepping 10")
    long logical = 0;           // logical processors online
    long physical = 0;          // processor cores, where the system counts them
    unsigned long long memory_bytes = 0;
    std::string power_plan;     // Windows' active power plan
};
HostDescription describe_host();

// The run-queue load over 1, 5 and 15 minutes, where the system keeps it.
std::optional<std::array<double, 3>> load_average();

// The speed of a logical processor now, where the system tells it (Windows;
// Linux's is read from its files in run/environment.cpp).
struct ProcessorSpeed {
    int cpu = 0;
    std::optional<long long> current_khz, max_khz;
};
std::vector<ProcessorSpeed> processor_speeds(const std::vector<int>& cpus);

// The SHA-256 of a file's contents in hex, or "unknown".
std::string sha256_of_file(const std::string& path);

// The file name of a program called name: name itself, or name.exe.
std::string program_file(const std::string& name);

// The folder ptrun's own program is in, or "." when the system does not say.
std::string own_directory();

bool is_executable_file(const std::string& path);

// Why the system would not start path as a program (empty when it would):
// checked without running it.
std::string start_problem(const std::string& path);

// Whether ptrun may make and remove files in folder.
bool may_write_in(const std::string& folder);

// The folder for ptrun's private folder: TMPDIR, or /tmp when it is unset or
// empty (on Windows the user's temporary folder, TMP or TEMP). Empty, and
// why in error, when no folder can be made in it.
std::string temporary_base(std::string& error);

// A new folder in base that only this call uses; empty, and why in error,
// when none can be made.
std::string make_private_folder(const std::string& base, std::string& error);

// Bytes no one can foresee, for a call's id.
void unpredictable_bytes(unsigned char* bytes, std::size_t count);

// Whether standard error is a terminal (progress is shown there only then).
bool standard_error_is_terminal();

}  // namespace ptrun
