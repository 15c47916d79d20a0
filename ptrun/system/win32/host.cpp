// The host on Windows: processor groups, the registry's names for the
// processor and the system, the power plan, the processors' speeds, and the
// system's own hash and random source.
#include "system/host.h"

#include <windows.h>
#include <bcrypt.h>
#include <powrprof.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

#include "system/win32/processors.h"

namespace ptrun {

namespace fs = std::filesystem;

namespace {

// A registry text of the local machine, or empty.
std::string machine_text(const char* key, const char* value) {
    char text[256] = "";
    DWORD size = sizeof text - 1;
    if (RegGetValueA(HKEY_LOCAL_MACHINE, key, value, RRF_RT_REG_SZ, nullptr, text, &size) != ERROR_SUCCESS) return "";
    std::string said = text;
    const std::size_t first = said.find_first_not_of(' ');
    const std::size_t last = said.find_last_not_of(' ');
    return first == std::string::npos ? "" : said.substr(first, last - first + 1);
}

DWORD machine_number(const char* key, const char* value) {
    DWORD number = 0;
    DWORD size = sizeof number;
    if (RegGetValueA(HKEY_LOCAL_MACHINE, key, value, RRF_RT_REG_DWORD, nullptr, &number, &size) != ERROR_SUCCESS) {
        return 0;
    }
    return number;
}

std::string utf8_of(const wchar_t* text) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return "";
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
    out.resize(static_cast<std::size_t>(n - 1));
    return out;
}

// The records of one kind GetLogicalProcessorInformationEx gives, in one buffer.
std::vector<char> processor_records(LOGICAL_PROCESSOR_RELATIONSHIP kind) {
    DWORD size = 0;
    GetLogicalProcessorInformationEx(kind, nullptr, &size);
    std::vector<char> records(size);
    if (size == 0 || !GetLogicalProcessorInformationEx(
                         kind, reinterpret_cast<SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX*>(records.data()), &size)) {
        return {};
    }
    records.resize(size);
    return records;
}

template <typename Each>
void for_each_record(const std::vector<char>& records, Each each) {
    for (std::size_t at = 0; at + sizeof(DWORD) * 2 <= records.size();) {
        const auto* record = reinterpret_cast<const SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX*>(records.data() + at);
        if (record->Size == 0) break;
        each(*record);
        at += record->Size;
    }
}

// "Windows 10.0 build 19045.3930 (22H2) x86-64", and the Wine that stands in for it.
std::string system_line() {
    using GetVersionCall = LONG(WINAPI*)(OSVERSIONINFOW*);
    using WineVersionCall = const char*(CDECL*)();
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    const auto get_version =
        reinterpret_cast<GetVersionCall>(reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")));
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    if (get_version == nullptr || get_version(&version) != 0) return "Windows";
    const char* current = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
    std::string line = "Windows " + std::to_string(version.dwMajorVersion) + "." +
                       std::to_string(version.dwMinorVersion) + " build " + std::to_string(version.dwBuildNumber);
    if (const DWORD update = machine_number(current, "UBR"); update != 0) line += "." + std::to_string(update);
    std::string release = machine_text(current, "DisplayVersion");
    if (release.empty()) release = machine_text(current, "ReleaseId");
    if (!release.empty()) line += " (" + release + ")";
    SYSTEM_INFO system{};
    GetNativeSystemInfo(&system);
    switch (system.wProcessorArchitecture) {
        case PROCESSOR_ARCHITECTURE_AMD64: line += " x86-64"; break;
        case PROCESSOR_ARCHITECTURE_INTEL: line += " x86"; break;
        case PROCESSOR_ARCHITECTURE_ARM64: line += " ARM64"; break;
        default: break;
    }
    const auto wine =
        reinterpret_cast<WineVersionCall>(reinterpret_cast<void*>(GetProcAddress(ntdll, "wine_get_version")));
    if (wine != nullptr) line += std::string(" under Wine ") + wine();
    return line;
}

// The active power plan by the name Windows shows, or by its well-known
// name or its GUID where the name cannot be read.
std::string power_plan() {
    GUID* active = nullptr;
    if (PowerGetActiveScheme(nullptr, &active) != ERROR_SUCCESS || active == nullptr) return "";
    wchar_t name[256] = L"";
    DWORD size = sizeof name;
    std::string plan;
    if (PowerReadFriendlyName(nullptr, active, nullptr, nullptr, reinterpret_cast<UCHAR*>(name), &size) ==
        ERROR_SUCCESS) {
        plan = utf8_of(name);
    }
    char text[40];
    std::snprintf(text, sizeof text, "%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                  static_cast<unsigned long>(active->Data1), active->Data2, active->Data3, active->Data4[0],
                  active->Data4[1], active->Data4[2], active->Data4[3], active->Data4[4], active->Data4[5],
                  active->Data4[6], active->Data4[7]);
    LocalFree(active);
    if (!plan.empty()) return plan;
    constexpr std::pair<const char*, const char*> kPlans[] = {
        {"381b4222-f694-41f0-9685-ff5bb260df2e", "Balanced"},
        {"8c5e7fda-e8bf-4a96-9a85-a6e23a8c635c", "High performance"},
        {"a1841308-3541-4fab-bc81-f71556f20b4a", "Power saver"},
        {"e9a42b02-d5df-448d-aa00-03f14749eb61", "Ultimate Performance"},
    };
    for (const auto& [guid, known] : kPlans) {
        if (std::string(text) == guid) return known;
    }
    return text;
}

}  // namespace

std::vector<GroupProcessor> active_processors() {
    std::vector<GroupProcessor> processors;
    for_each_record(processor_records(RelationGroup), [&](const SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX& record) {
        for (WORD group = 0; group < record.Group.ActiveGroupCount; ++group) {
            const KAFFINITY mask = record.Group.GroupInfo[group].ActiveProcessorMask;
            for (unsigned bit = 0; bit < sizeof(KAFFINITY) * 8; ++bit) {
                if ((mask >> bit) & 1u) processors.push_back({group, static_cast<KAFFINITY>(1) << bit});
            }
        }
    });
    if (processors.empty()) {  // a system without groups
        DWORD_PTR own = 0, all = 0;
        GetProcessAffinityMask(GetCurrentProcess(), &own, &all);
        for (unsigned bit = 0; bit < sizeof(DWORD_PTR) * 8; ++bit) {
            if ((all >> bit) & 1u) processors.push_back({0, static_cast<KAFFINITY>(1) << bit});
        }
    }
    return processors;
}

std::vector<int> usable_processors() {
    const std::vector<GroupProcessor> processors = active_processors();
    // In one group, those the process may use (start /affinity narrows
    // them); across groups every one, since ptrun places each copy itself.
    DWORD_PTR own = 0, all = 0;
    const bool one_group = std::all_of(processors.begin(), processors.end(),
                                       [](const GroupProcessor& p) { return p.group == 0; });
    const bool narrowed = one_group && GetProcessAffinityMask(GetCurrentProcess(), &own, &all) && own != 0;
    std::vector<int> cpus;
    for (std::size_t i = 0; i < processors.size(); ++i) {
        if (!narrowed || (own & processors[i].bit) != 0) cpus.push_back(static_cast<int>(i));
    }
    if (cpus.empty()) cpus.push_back(0);
    return cpus;
}

HostDescription describe_host() {
    HostDescription host;
    char name[256] = "";
    DWORD size = sizeof name;
    if (GetComputerNameExA(ComputerNameDnsHostname, name, &size)) host.hostname = name;
    host.system = system_line();
    const char* processor = "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0";
    host.processor = machine_text(processor, "ProcessorNameString");
    host.processor_ids = machine_text(processor, "Identifier");
    host.logical = static_cast<long>(active_processors().size());
    for_each_record(processor_records(RelationProcessorCore),
                    [&](const SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX&) { ++host.physical; });
    MEMORYSTATUSEX memory{};
    memory.dwLength = sizeof memory;
    if (GlobalMemoryStatusEx(&memory)) host.memory_bytes = memory.ullTotalPhys;
    host.power_plan = power_plan();
    return host;
}

std::optional<std::array<double, 3>> load_average() { return std::nullopt; }  // Windows keeps none

std::vector<ProcessorSpeed> processor_speeds(const std::vector<int>& cpus) {
    // What CallNtPowerInformation tells of each processor of the caller's group.
    struct PowerInformation {
        ULONG number, max_mhz, current_mhz, limit_mhz, max_idle_state, current_idle_state;
    };
    const std::vector<GroupProcessor> processors = active_processors();
    std::vector<PowerInformation> told(processors.size());
    std::vector<ProcessorSpeed> speeds;
    const ULONG bytes = static_cast<ULONG>(told.size() * sizeof(PowerInformation));
    if (told.empty() || CallNtPowerInformation(ProcessorInformation, nullptr, 0, told.data(), bytes) != 0) {
        return speeds;
    }
    for (const int cpu : cpus) {
        if (cpu < 0 || static_cast<std::size_t>(cpu) >= processors.size() || processors[cpu].group != 0) continue;
        for (const PowerInformation& info : told) {
            if ((static_cast<KAFFINITY>(1) << info.number) != processors[cpu].bit || info.current_mhz == 0) continue;
            speeds.push_back({cpu, info.current_mhz * 1000LL,
                              info.max_mhz > 0 ? std::optional<long long>(info.max_mhz * 1000LL) : std::nullopt});
        }
    }
    return speeds;
}

std::string sha256_of_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "unknown";
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
        return "unknown";
    }
    // Windows 7 wants the hash's working memory from the caller.
    DWORD object_size = 0;
    ULONG got = 0;
    BCryptGetProperty(algorithm, BCRYPT_OBJECT_LENGTH, reinterpret_cast<PUCHAR>(&object_size), sizeof object_size,
                      &got, 0);
    std::vector<UCHAR> object(object_size);
    BCRYPT_HASH_HANDLE hash = nullptr;
    unsigned char digest[32] = {};
    bool ok = BCRYPT_SUCCESS(BCryptCreateHash(algorithm, &hash, object.data(), object_size, nullptr, 0, 0));
    char buffer[65536];
    while (ok && in.read(buffer, sizeof buffer).gcount() > 0) {
        ok = BCRYPT_SUCCESS(BCryptHashData(hash, reinterpret_cast<PUCHAR>(buffer), static_cast<ULONG>(in.gcount()), 0));
    }
    ok = ok && !in.bad() && BCRYPT_SUCCESS(BCryptFinishHash(hash, digest, sizeof digest, 0));
    if (hash != nullptr) BCryptDestroyHash(hash);
    BCryptCloseAlgorithmProvider(algorithm, 0);
    if (!ok) return "unknown";
    std::string hex;
    char pair[3];
    for (const unsigned char byte : digest) {
        std::snprintf(pair, sizeof pair, "%02x", byte);
        hex += pair;
    }
    return hex;
}

std::string program_file(const std::string& name) { return name + ".exe"; }

std::string own_directory() {
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return ".";
    return fs::path(std::string(path, n)).parent_path().string();
}

bool is_executable_file(const std::string& path) {
    std::error_code ignored;
    return fs::is_regular_file(path, ignored);
}

std::string start_problem(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    char head[2] = {};
    in.read(head, sizeof head);
    if (in.gcount() == 2 && head[0] == 'M' && head[1] == 'Z') return "";
    return "pt at " + path + " is not a Windows program: it cannot be started";
}

bool may_write_in(const std::string& folder) {
    std::error_code ignored;
    if (!fs::is_directory(folder, ignored)) return false;
    std::string why;
    const std::string probe = make_private_folder(folder, why);
    return !probe.empty() && RemoveDirectoryA(probe.c_str());
}

std::string make_private_folder(const std::string& base, std::string& error) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        unsigned char bytes[4];
        unpredictable_bytes(bytes, sizeof bytes);
        char name[32];
        std::snprintf(name, sizeof name, "ptrun-%02x%02x%02x%02x", bytes[0], bytes[1], bytes[2], bytes[3]);
        const std::string folder = (fs::path(base) / name).string();
        if (CreateDirectoryA(folder.c_str(), nullptr)) return folder;
        if (GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    error = "cannot make a folder in " + base + " (error " + std::to_string(GetLastError()) + ")";
    return "";
}

std::string temporary_base(std::string& error) {
    const char* given = std::getenv("TMPDIR");
    std::string base;
    std::string named;
    if (given != nullptr && *given != '\0') {
        base = given;
        named = "TMPDIR=" + base;
    } else {
        char path[MAX_PATH + 1];
        const DWORD n = GetTempPathA(sizeof path, path);
        base = n > 0 && n <= MAX_PATH ? std::string(path, n) : ".";
        named = base + " (the user's temporary folder: TMP, TEMP)";
    }
    if (!may_write_in(base)) {
        error = named + " is not a folder ptrun may write: set TMPDIR to one";
        return "";
    }
    return base;
}

void unpredictable_bytes(unsigned char* bytes, std::size_t count) {
    if (BCRYPT_SUCCESS(BCryptGenRandom(nullptr, bytes, static_cast<ULONG>(count), BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
        return;
    }
    // Time and process id, mixed, where there is no random source.
    auto mix = static_cast<unsigned long long>(std::chrono::system_clock::now().time_since_epoch().count()) ^
               static_cast<unsigned long long>(GetCurrentProcessId()) << 40;
    for (std::size_t i = 0; i < count; ++i) {
        mix = mix * 6364136223846793005ull + 1442695040888963407ull;
        bytes[i] = static_cast<unsigned char>(mix >> 56);
    }
}

bool standard_error_is_terminal() {
    // A console that takes the escapes the progress line uses (Windows 10 and later).
    const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (error == nullptr || error == INVALID_HANDLE_VALUE || !GetConsoleMode(error, &mode)) return false;
    constexpr DWORD kTerminalEscapes = 0x0004;  // ENABLE_VIRTUAL_TERMINAL_PROCESSING
    return (mode & kTerminalEscapes) != 0 || SetConsoleMode(error, mode | kTerminalEscapes) != 0;
}

}  // namespace ptrun
