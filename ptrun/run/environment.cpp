#include "run/environment.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

#include "platform/platform.h"
#include "system/host.h"

namespace ptrun {

namespace {

constexpr const char* kCpuDir = "/sys/devices/system/cpu/";

// The whole of a small /sys or /proc file; nothing when it cannot be read
// (many sensors refuse a read when they have no value).
// (A stream that fails to read marks itself bad.)
std::optional<std::string> read_small(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in.is_open()) return std::nullopt;
    std::string text;
    char buffer[4096];
    while (text.size() < (1u << 20) && in.read(buffer, sizeof buffer).gcount() > 0) {
        text.append(buffer, static_cast<std::size_t>(in.gcount()));
    }
    if (in.bad()) return std::nullopt;
    return text;
}

// The names in a folder that begin with prefix, in a fixed order.
std::vector<std::string> names_in(const std::string& dir, const std::string& prefix) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(dir, error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(prefix, 0) == 0) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string trimmed(const std::string& text) {
    const std::size_t start = text.find_first_not_of(" \t\r\n");
    if (start == std::string::npos) return "";
    return text.substr(start, text.find_last_not_of(" \t\r\n") - start + 1);
}

// The vendor signature a hypervisor puts in its processor identification
// leaf, when the processor says one runs it.
std::string hypervisor_signature() {
#if defined(__x86_64__) || defined(__i386__)
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (__get_cpuid(1, &a, &b, &c, &d) == 0 || (c & (1u << 31)) == 0) return "";
    __cpuid(0x40000000, a, b, c, d);
    char text[13] = {};
    for (int i = 0; i < 4; ++i) {
        text[i] = static_cast<char>(b >> (8 * i));
        text[4 + i] = static_cast<char>(c >> (8 * i));
        text[8 + i] = static_cast<char>(d >> (8 * i));
    }
    std::string signature;
    for (const char ch : text) {
        if (ch >= 0x21 && ch <= 0x7e) signature += ch;
    }
    return signature;
#else
    return "";
#endif
}

// The vendor texts hypervisors put into the x86 identification leaf (as
// read, blanks dropped), and their names.
constexpr std::pair<const char*, const char*> kHypervisorSignatures[] = {
    {"KVMKVMKVM", "KVM"},          {"MicrosoftHv", "Microsoft Hyper-V"}, {"VMwareVMware", "VMware"},
    {"XenVMMXenVMM", "Xen"},       {"TCGTCGTCGTCG", "QEMU (TCG)"},       {"VBoxVBoxVBox", "VirtualBox"},
    {"prlhyperv", "Parallels"},    {"bhyvebhyve", "bhyve"},              {"ACRNACRNACRN", "ACRN"},
};

// Virtual machines as their firmware's DMI tables name the system: vendor,
// a text the product name holds, and one it must not (Amazon's bare-metal
// instances are "*.metal"). A physical maker says nothing either way.
struct DmiGuest {
    const char* vendor;
    const char* product;
    const char* not_product;
    const char* name;
};
constexpr DmiGuest kDmiGuests[] = {
    {"QEMU", "KVM", "", "KVM"},
    {"QEMU", "", "", "QEMU"},
    {"Microsoft Corporation", "Virtual Machine", "", "Microsoft Hyper-V"},
    {"VMware, Inc.", "", "", "VMware"},
    {"Xen", "", "", "Xen"},
    {"innotek GmbH", "VirtualBox", "", "VirtualBox"},
    {"Amazon EC2", "", ".metal", "Amazon EC2 Nitro"},
    {"Google", "Google Compute Engine", "", "Google Compute Engine (KVM)"},
    {"Parallels Software International Inc.", "", "", "Parallels"},
};

void read_temperatures(const std::string& root, Snapshot& snapshot) {
    const std::string thermal = root + "/sys/class/thermal/";
    for (const std::string& zone : names_in(thermal, "thermal_zone")) {
        const std::optional<long long> milli = sys_number(read_small(thermal + zone + "/temp"));
        if (!milli) continue;
        add_reading(snapshot.temperatures_c, sys_line(read_small(thermal + zone + "/type")).value_or(zone),
                    static_cast<double>(*milli) / 1000.0);
    }
    const std::string hwmon = root + "/sys/class/hwmon/";
    for (const std::string& device : names_in(hwmon, "hwmon")) {
        const std::string dir = hwmon + device + "/";
        const std::string name = sys_line(read_small(dir + "name")).value_or(device);
        for (const std::string& input : names_in(dir, "temp")) {
            const std::size_t end = input.rfind("_input");
            if (end == std::string::npos || end + 6 != input.size()) continue;
            const std::optional<long long> milli = sys_number(read_small(dir + input));
            if (!milli) continue;
            const std::string sensor = input.substr(0, end);
            const std::string label = sys_line(read_small(dir + sensor + "_label")).value_or(sensor);
            add_reading(snapshot.temperatures_c, name + "/" + label, static_cast<double>(*milli) / 1000.0);
        }
    }
}

}  // namespace

std::optional<std::string> proc_value(const std::string& text, const std::string& key) {
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos || line.compare(0, key.size(), key) != 0) continue;
        if (trimmed(line.substr(0, colon)) != key) continue;
        return trimmed(line.substr(colon + 1));
    }
    return std::nullopt;
}

std::optional<std::string> sys_line(const std::optional<std::string>& text) {
    if (!text) return std::nullopt;
    const std::string line = trimmed(text->substr(0, text->find('\n')));
    if (line.empty()) return std::nullopt;
    return line;
}

std::optional<long long> sys_number(const std::optional<std::string>& text) {
    const std::optional<std::string> line = sys_line(text);
    if (!line) return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(line->c_str(), &end, 10);
    if (errno != 0 || end == line->c_str() || *end != '\0') return std::nullopt;
    return value;
}

std::optional<std::string> boost_of(const std::optional<std::string>& boost,
                                    const std::optional<std::string>& no_turbo) {
    if (const std::optional<long long> on = sys_number(boost); on && (*on == 0 || *on == 1)) {
        return *on == 1 ? "on" : "off";
    }
    if (const std::optional<long long> off = sys_number(no_turbo); off && (*off == 0 || *off == 1)) {
        return *off == 1 ? "off" : "on";
    }
    return std::nullopt;
}

std::optional<std::string> hypervisor_of(const std::string& cpuinfo, const HypervisorClues& clues) {
    if (const std::optional<std::string> type = sys_line(clues.sys_type)) return *type == "xen" ? "Xen" : *type;
    if (!clues.signature.empty()) {
        for (const auto& [signature, name] : kHypervisorSignatures) {
            if (clues.signature == signature) return name;
        }
        return clues.signature;
    }
    if (clues.device_tree && !clues.device_tree->empty()) {
        const std::string first = clues.device_tree->substr(0, clues.device_tree->find('\0'));
        if (first == "linux,kvm") return "KVM";
        return first.rfind("xen,", 0) == 0 ? "Xen" : first;
    }
    const std::string vendor = sys_line(clues.dmi_vendor).value_or("");
    const std::string product = sys_line(clues.dmi_product).value_or("");
    for (const DmiGuest& guest : kDmiGuests) {
        if (vendor == guest.vendor && product.find(guest.product) != std::string::npos &&
            (guest.not_product[0] == '\0' || product.find(guest.not_product) == std::string::npos)) {
            return guest.name;
        }
    }
    const std::optional<std::string> flags = proc_value(cpuinfo, "flags");
    if (!flags) return std::nullopt;
    std::istringstream words(*flags);
    for (std::string word; words >> word;) {
        if (word == "hypervisor") return "present";
    }
    return "none";
}

void add_reading(std::vector<std::pair<std::string, double>>& readings, const std::string& name, double value) {
    const auto taken = [&readings](const std::string& candidate) {
        return std::any_of(readings.begin(), readings.end(), [&](const auto& r) { return r.first == candidate; });
    };
    std::string unique = name;
    for (int n = 2; taken(unique); ++n) unique = name + "#" + std::to_string(n);
    readings.emplace_back(unique, value);
}

Snapshot only_cpu(const Snapshot& snapshot, int cpu) {
    Snapshot one = snapshot;
    std::erase_if(one.cpus, [cpu](const CpuState& state) { return state.cpu != cpu; });
    return one;
}

Snapshot read_snapshot(const std::vector<int>& cpus, const std::string& root) {
    Snapshot snapshot;
    for (const int cpu : cpus) {
        if (std::any_of(snapshot.cpus.begin(), snapshot.cpus.end(),
                        [cpu](const CpuState& s) { return s.cpu == cpu; })) {
            continue;
        }
        CpuState state;
        state.cpu = cpu;
        char governor[64];
        processor_governor(cpu, governor, sizeof governor);
        if (governor[0] != '\0') state.governor = governor;
        const std::string dir = root + kCpuDir + "cpu" + std::to_string(cpu) + "/cpufreq/";
        state.current_khz = sys_number(read_small(dir + "scaling_cur_freq"));
        state.min_khz = sys_number(read_small(dir + "scaling_min_freq"));
        state.max_khz = sys_number(read_small(dir + "scaling_max_freq"));
        snapshot.cpus.push_back(state);
    }
    if (root.empty()) {
        // Where the system tells the speeds itself (Windows), of the processors it has no files for.
        for (const ProcessorSpeed& speed : processor_speeds(cpus)) {
            for (CpuState& state : snapshot.cpus) {
                if (state.cpu != speed.cpu || state.current_khz) continue;
                state.current_khz = speed.current_khz;
                state.max_khz = speed.max_khz;
            }
        }
        snapshot.load_average = load_average();
    }
    read_temperatures(root, snapshot);
    return snapshot;
}

std::optional<long> physical_cores(const std::string& root) {
    const std::string cpu_dir = root + kCpuDir;
    std::set<std::pair<std::string, std::string>> cores;
    for (const std::string& name : names_in(cpu_dir, "cpu")) {
        // cpu0, cpu1, ...; not cpufreq, cpuidle. An offline processor has no topology folder.
        if (name.size() == 3 || name.find_first_not_of("0123456789", 3) != std::string::npos) continue;
        const std::string topology = cpu_dir + name + "/topology/";
        const std::optional<std::string> package = sys_line(read_small(topology + "physical_package_id"));
        const std::optional<std::string> core = sys_line(read_small(topology + "core_id"));
        if (package && core) cores.emplace(*package, *core);
    }
    if (cores.empty()) return std::nullopt;
    return static_cast<long>(cores.size());
}

Environment read_environment(const std::vector<int>& cpus, const std::string& root) {
    Environment environment;
    const std::string cpu_dir = root + kCpuDir;
    const std::string cpuinfo = read_small(root + "/proc/cpuinfo").value_or("");
    environment.smt = sys_line(read_small(cpu_dir + "smt/control"));
    environment.microcode = proc_value(cpuinfo, "microcode");
    if (environment.microcode && environment.microcode->empty()) environment.microcode.reset();
    environment.boost = boost_of(read_small(cpu_dir + "cpufreq/boost"), read_small(cpu_dir + "intel_pstate/no_turbo"));
    const std::string dmi = root + "/sys/class/dmi/id/";
    environment.hypervisor = hypervisor_of(
        cpuinfo, {read_small(root + "/sys/hypervisor/type"), root.empty() ? hypervisor_signature() : "",
                  read_small(root + "/proc/device-tree/hypervisor/compatible"), read_small(dmi + "sys_vendor"),
                  read_small(dmi + "product_name")});
    for (const std::string& name : names_in(cpu_dir + "vulnerabilities", "")) {
        if (const std::optional<std::string> text = sys_line(read_small(cpu_dir + "vulnerabilities/" + name))) {
            environment.vulnerabilities.emplace_back(name, *text);
        }
    }
    environment.now = read_snapshot(cpus, root);
    return environment;
}

}  // namespace ptrun
