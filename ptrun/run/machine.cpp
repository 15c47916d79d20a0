#include "run/machine.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "system/host.h"
#include "system/process.h"
#include "run/processor.h"
#include "platform/platform.h"

namespace ptrun {

namespace fs = std::filesystem;

namespace {

// Of what a program describing the machine or a build prints: a version line
// or a digest are a few dozen bytes; more is no answer.
constexpr std::size_t kOutputKept = 64 * 1024;

}  // namespace

std::string read_text(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::optional<std::string> output_of(const std::vector<std::string>& command, double seconds_allowed,
                                     const std::string& input) {
    Launch launch;
    launch.command = command;
    launch.search_path = true;
    launch.input = input;
    Captured captured = capture(launch, kOutputKept, seconds_allowed);
    if (!captured.succeeded()) return std::nullopt;
    std::string& text = captured.output;
    // (A Windows program ends its lines with CRLF.)
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
    return text;
}

namespace {

// The first bytes of a file, enough for any binfmt_misc magic.
std::string head_of(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    char bytes[128] = {};
    in.read(bytes, sizeof bytes);
    return std::string(bytes, static_cast<std::size_t>(in.gcount()));
}

// This program itself first (under qemu-user /proc/self/exe is the emulated
// program), then each build's pt.
std::string emulator_of_programs(Family described, const std::vector<std::string>& programs) {
    const std::string binfmt = "/proc/sys/fs/binfmt_misc/";
    std::vector<std::string> entries;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(binfmt, error)) {
        const std::string name = entry.path().filename().string();
        if (name != "register" && name != "status") entries.push_back(read_text(entry.path().string()));
    }
    std::string emulator = emulator_of(own_family(), described, head_of("/proc/self/exe"), entries);
    for (const std::string& program : programs) {
        if (emulator.empty()) emulator = emulator_of(Family::unknown, described, head_of(program), entries);
    }
    return emulator;
}

}  // namespace

namespace {

// The governors of the processors the copies run on, each named once; where
// the system has none, its power plan.
std::string governor_of(const std::vector<int>& cpus, const std::string& power_plan) {
    std::string governors;
    for (int cpu : cpus) {
        char text[64];
        processor_governor(cpu, text, sizeof text);
        const std::string governor = text;
        if (!governor.empty() && governors.find(governor) == std::string::npos) {
            governors += (governors.empty() ? "" : ", ") + governor;
        }
    }
    if (governors.empty() && !power_plan.empty()) governors = "power plan " + power_plan;
    return governors.empty() ? "unknown" : governors;
}

}  // namespace

Machine describe_machine(const std::vector<int>& cpus, const std::vector<std::string>& programs) {
    Machine machine;
    const HostDescription host = describe_host();
    machine.hostname = host.hostname.empty() ? "unknown" : host.hostname;
    // Linux names its processor in /proc/cpuinfo; Windows names it itself.
    const std::string cpuinfo = read_text("/proc/cpuinfo");
    const ProcessorName named = name_processor(cpuinfo);
    machine.processor = host.processor.empty() ? named.name : host.processor;
    machine.processor_ids = host.processor_ids.empty() ? named.ids : host.processor_ids;
    machine.emulator = emulator_of_programs(named.family, programs);
    machine.online = host.logical;
    // Windows counts its cores itself; Linux lists each processor's core in /sys.
    machine.physical = host.physical > 0 ? host.physical : physical_cores().value_or(0);
    machine.kernel = host.system;
    machine.memory_bytes = host.memory_bytes;
    machine.governor = governor_of(cpus, host.power_plan);
    if (const auto load = load_average()) std::copy(load->begin(), load->end(), machine.load);
    machine.environment = read_environment(cpus);
    // Where the system counts cores but has no SMT switch to read (Windows):
    // whether a core runs more than one logical processor.
    if (!machine.environment.smt && host.physical > 0 && host.logical > 0) {
        machine.environment.smt = host.logical > host.physical ? "on" : "off";
    }
    return machine;
}

Build describe_build(const std::string& id, const std::string& pt) {
    Build build;
    build.id = id;
    build.path = pt;
    build.sha256 = sha256_of_file(pt);
    // The build describes itself through its verification tool: beside pt
    // when installed, in tools/ beside src/ in a build tree.
    const fs::path pt_dir = fs::path(pt).parent_path();
    const std::string ptverify = program_file("ptverify");
    std::optional<std::string> line;
    for (const fs::path& verifier : {pt_dir / ptverify, pt_dir / ".." / "tools" / ptverify}) {
        if (line || !is_executable_file(verifier.string())) continue;
        line = output_of({verifier.string(), "--version"}, 10);
        if (line) build.verifier = verifier.lexically_normal().string();
    }
    build.line = line && !line->empty() ? *line : "unknown";
    build.info = parse_build_line(build.line);
    return build;
}

}  // namespace ptrun
