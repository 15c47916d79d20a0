// The machine a call ran on, the state it ran the copies in and the builds
// it ran: what every figure must be read together with. Filled in by the
// run side, read back from results files by the reader.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace ptrun {

struct CpuState {
    int cpu = 0;
    std::optional<std::string> governor;
    std::optional<long long> current_khz, min_khz, max_khz;
};

// What may change from one run to the next.
struct Snapshot {
    std::vector<CpuState> cpus;
    std::vector<std::pair<std::string, double>> temperatures_c;  // in the order read, names unique
    std::optional<std::array<double, 3>> load_average;
};

struct Environment {
    std::optional<std::string> smt, microcode, boost, hypervisor;
    std::vector<std::pair<std::string, std::string>> vulnerabilities;
    Snapshot now;
};

struct Machine {
    std::string hostname;
    std::string processor;      // as the family's users know it; empty when the machine does not tell
    std::string processor_ids;  // the raw identification it was named from (ARM implementer and part, ...), or empty
    std::string emulator;       // the emulator the copies would run under ("qemu-user"), or empty
    long online = 0;
    long physical = 0;          // processor cores, where the machine counts them; 0 where it does not
    std::string kernel;
    unsigned long long memory_bytes = 0;
    std::string governor;
    double load[3] = {-1, -1, -1};
    Environment environment;
};

// The build line of ptverify --version in its parts: "version 1.0 for
// x86_64-linux-gnu, built by GCC 12.2.0 with -O2 ...".
struct BuildInfo {
    std::string version, target, compiler, compiler_version, flags;
};

struct Build {
    std::string id;  // A, B, ... in the order of --pt
    std::string path;
    std::string sha256;
    std::string line;  // the raw build line, or "unknown"
    BuildInfo info;
    std::string verifier;  // the build's ptverify, or empty
    bool validated = false;
    std::string validation;  // why, or why not
};
// A build line in its parts; empty parts for a line of another form.
BuildInfo parse_build_line(const std::string& line);

}  // namespace ptrun
