#include "run/machine.h"

#include <sys/utsname.h>
#include <unistd.h>

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
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

// sha256sum reads the file on its standard input: given the name instead,
// it escapes a name holding a backslash or a line break and then begins its
// line with a backslash, so the same binary under such a name would show
// another digest. (coreutils is on every Debian system; an in-process hash
// would need a crypto library ptrun does not otherwise use.)
std::string sha256_of(const std::string& path) {
    const std::optional<std::string> sum = output_of({"sha256sum"}, 30, path);
    if (!sum || sum->size() < 64 || sum->find_first_not_of("0123456789abcdef") < 64) return "unknown";
    return sum->substr(0, 64);
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

Machine describe_machine(const std::vector<int>& cpus, const std::vector<std::string>& programs) {
    Machine machine;
    char host[256] = "";
    if (gethostname(host, sizeof host - 1) == 0) machine.hostname = host;
    if (machine.hostname.empty()) machine.hostname = "unknown";
    const std::string cpuinfo = read_text("/proc/cpuinfo");
    const ProcessorName named = name_processor(cpuinfo);
    machine.processor = named.name;
    machine.processor_ids = named.ids;
    machine.emulator = emulator_of_programs(named.family, programs);
    machine.online = sysconf(_SC_NPROCESSORS_ONLN);
    utsname names{};
    if (uname(&names) == 0) {
        machine.kernel = std::string(names.sysname) + " " + names.release + " " + names.machine;
    }
    machine.memory_bytes =
        std::strtoull(proc_value(read_text("/proc/meminfo"), "MemTotal").value_or("").c_str(), nullptr, 10) * 1024u;
    // The governors of the processors the copies run on, each named once.
    for (int cpu : cpus) {
        char text[64];
        processor_governor(cpu, text, sizeof text);
        const std::string governor = text;
        if (!governor.empty() && machine.governor.find(governor) == std::string::npos) {
            machine.governor += (machine.governor.empty() ? "" : ", ") + governor;
        }
    }
    if (machine.governor.empty()) machine.governor = "unknown";
    if (getloadavg(machine.load, 3) != 3) machine.load[0] = machine.load[1] = machine.load[2] = -1;
    machine.environment = read_environment(cpus);
    return machine;
}

Build describe_build(const std::string& id, const std::string& pt) {
    Build build;
    build.id = id;
    build.path = pt;
    build.sha256 = sha256_of(pt);
    // The build describes itself through its verification tool: beside pt
    // when installed, in tools/ beside src/ in a build tree.
    const fs::path pt_dir = fs::path(pt).parent_path();
    std::optional<std::string> line;
    for (const fs::path& verifier : {pt_dir / "ptverify", pt_dir / ".." / "tools" / "ptverify"}) {
        if (line || !is_executable_file(verifier.string())) continue;
        line = output_of({verifier.string(), "--version"}, 10);
        if (line) build.verifier = verifier.lexically_normal().string();
    }
    build.line = line && !line->empty() ? *line : "unknown";
    build.info = parse_build_line(build.line);
    return build;
}

}  // namespace ptrun
