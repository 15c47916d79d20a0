// The machine the copies run on and the builds they run: what a figure must
// be read together with.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "environment.h"

namespace ptrun {

struct Machine {
    std::string hostname;
    std::string processor;      // as the family's users know it; empty when the machine does not tell
    std::string processor_ids;  // the raw identification it was named from (ARM implementer and part, ...), or empty
    std::string emulator;       // the emulator the copies would run under ("qemu-user"), or empty
    long online = 0;
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

std::string read_text(const std::string& path);

// Standard output of a program, when it ends well within seconds_allowed
// with exit code 0. Its standard input is the file input, or empty.
std::optional<std::string> output_of(const std::vector<std::string>& command, int seconds_allowed,
                                     const std::string& input = "/dev/null");

// The SHA-256 of a file's contents in hex, or "unknown".
std::string sha256_of(const std::string& path);

BuildInfo parse_build_line(const std::string& line);

// programs: the pt builds the copies run, for the emulator a program of
// another family would run under.
Machine describe_machine(const std::vector<int>& cpus, const std::vector<std::string>& programs = {});
Build describe_build(const std::string& id, const std::string& pt);

}  // namespace ptrun
