#include "run/processor.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <sstream>

#include "run/environment.h"

namespace ptrun {

namespace {

// ARM processors name themselves only by number (implementer and part, from
// the main ID register). The names below are what the makers call them.
// util-linux's lscpu keeps a table like it, but inside the program: there
// is no library to link, and its output is for people, so the few lines a
// benchmark needs are kept here as data.
struct ArmImplementer {
    unsigned id;
    const char* name;
};
constexpr ArmImplementer kArmImplementers[] = {
    {0x41, "ARM"},      {0x42, "Broadcom"}, {0x43, "Cavium"},    {0x46, "Fujitsu"},   {0x48, "HiSilicon"},
    {0x4e, "NVIDIA"},   {0x50, "APM"},      {0x51, "Qualcomm"},  {0x53, "Samsung"},   {0x56, "Marvell"},
    {0x61, "Apple"},    {0x69, "Intel"},    {0x6d, "Microsoft"}, {0x70, "Phytium"},   {0xc0, "Ampere"},
};

struct ArmPart {
    unsigned implementer, part;
    const char* name;
};
constexpr ArmPart kArmParts[] = {
    {0x41, 0xb02, "ARM11 MPCore"}, {0x41, 0xb76, "ARM1176"},       {0x41, 0xc05, "Cortex-A5"},
    {0x41, 0xc07, "Cortex-A7"},    {0x41, 0xc08, "Cortex-A8"},     {0x41, 0xc09, "Cortex-A9"},
    {0x41, 0xc0d, "Cortex-A17"},   {0x41, 0xc0e, "Cortex-A17"},    {0x41, 0xc0f, "Cortex-A15"},
    {0x41, 0xd01, "Cortex-A32"},   {0x41, 0xd03, "Cortex-A53"},    {0x41, 0xd04, "Cortex-A35"},
    {0x41, 0xd05, "Cortex-A55"},   {0x41, 0xd06, "Cortex-A65"},    {0x41, 0xd07, "Cortex-A57"},
    {0x41, 0xd08, "Cortex-A72"},   {0x41, 0xd09, "Cortex-A73"},    {0x41, 0xd0a, "Cortex-A75"},
    {0x41, 0xd0b, "Cortex-A76"},   {0x41, 0xd0c, "Neoverse-N1"},   {0x41, 0xd0d, "Cortex-A77"},
    {0x41, 0xd0e, "Cortex-A76AE"}, {0x41, 0xd40, "Neoverse-V1"},   {0x41, 0xd41, "Cortex-A78"},
    {0x41, 0xd42, "Cortex-A78AE"}, {0x41, 0xd43, "Cortex-A65AE"},  {0x41, 0xd44, "Cortex-X1"},
    {0x41, 0xd46, "Cortex-A510"},  {0x41, 0xd47, "Cortex-A710"},   {0x41, 0xd48, "Cortex-X2"},
    {0x41, 0xd49, "Neoverse-N2"},  {0x41, 0xd4a, "Neoverse-E1"},   {0x41, 0xd4b, "Cortex-A78C"},
    {0x41, 0xd4c, "Cortex-X1C"},   {0x41, 0xd4d, "Cortex-A715"},   {0x41, 0xd4e, "Cortex-X3"},
    {0x41, 0xd4f, "Neoverse-V2"},  {0x41, 0xd80, "Cortex-A520"},   {0x41, 0xd81, "Cortex-A720"},
    {0x41, 0xd82, "Cortex-X4"},    {0x41, 0xd84, "Neoverse-V3"},   {0x41, 0xd85, "Cortex-X925"},
    {0x41, 0xd87, "Cortex-A725"},  {0x41, 0xd8e, "Neoverse-N3"},   {0x42, 0x00f, "Brahma-B15"},
    {0x42, 0x100, "Brahma-B53"},   {0x42, 0x516, "ThunderX2"},     {0x43, 0x0a1, "ThunderX 88XX"},
    {0x43, 0x0a2, "ThunderX 81XX"}, {0x43, 0x0a3, "ThunderX 83XX"}, {0x43, 0x0af, "ThunderX2 99xx"},
    {0x43, 0x0b1, "OcteonTX2 98XX"}, {0x46, 0x001, "A64FX"},       {0x48, 0xd01, "Kunpeng-920"},
    {0x4e, 0x000, "Denver"},       {0x4e, 0x003, "Denver 2"},      {0x4e, 0x004, "Carmel"},
    {0x50, 0x000, "X-Gene"},       {0x51, 0x00f, "Scorpion"},      {0x51, 0x02d, "Scorpion"},
    {0x51, 0x04d, "Krait"},        {0x51, 0x06f, "Krait"},         {0x51, 0x201, "Kryo"},
    {0x51, 0x205, "Kryo"},         {0x51, 0x211, "Kryo"},          {0x51, 0x800, "Kryo 2XX Gold"},
    {0x51, 0x801, "Kryo 2XX Silver"}, {0x51, 0x802, "Kryo 3XX Gold"}, {0x51, 0x803, "Kryo 3XX Silver"},
    {0x51, 0x804, "Kryo 4XX Gold"}, {0x51, 0x805, "Kryo 4XX Silver"}, {0x51, 0xc00, "Falkor"},
    {0x51, 0xc01, "Saphira"},      {0x51, 0x001, "Oryon"},         {0x53, 0x001, "Exynos M1"},
    {0x53, 0x002, "Exynos M3"},    {0x56, 0x131, "Feroceon 88FR131"}, {0x56, 0x581, "PJ4"},
    {0x56, 0x584, "PJ4B-MP"},      {0x61, 0x022, "M1 Icestorm"},   {0x61, 0x023, "M1 Firestorm"},
    {0x61, 0x024, "M1 Pro Icestorm"}, {0x61, 0x025, "M1 Pro Firestorm"}, {0x61, 0x028, "M1 Max Icestorm"},
    {0x61, 0x029, "M1 Max Firestorm"}, {0x61, 0x032, "M2 Blizzard"}, {0x61, 0x033, "M2 Avalanche"},
    {0x6d, 0xd49, "Azure Cobalt 100"}, {0x70, 0x660, "FTC660"},    {0x70, 0x661, "FTC661"},
    {0x70, 0x662, "FTC662"},       {0x70, 0x663, "FTC663"},        {0x70, 0x664, "FTC664"},
    {0xc0, 0xac3, "Ampere-1"},     {0xc0, 0xac4, "Ampere-1a"},
};

// IBM Z machine types (the "machine =" number) and the model names IBM sells them under.
struct MachineType {
    const char* type;
    const char* name;
};
constexpr MachineType kZMachines[] = {
    {"2064", "IBM z900"},  {"2066", "IBM z800"},   {"2084", "IBM z990"},  {"2086", "IBM z890"},
    {"2094", "IBM z9 EC"}, {"2096", "IBM z9 BC"},  {"2097", "IBM z10 EC"}, {"2098", "IBM z10 BC"},
    {"2817", "IBM z196"},  {"2818", "IBM z114"},   {"2827", "IBM zEC12"}, {"2828", "IBM zBC12"},
    {"2964", "IBM z13"},   {"2965", "IBM z13s"},   {"3906", "IBM z14"},   {"3907", "IBM z14 ZR1"},
    {"8561", "IBM z15"},   {"8562", "IBM z15 T02"}, {"3931", "IBM z16"},  {"3932", "IBM z16 A02"},
    {"9175", "IBM z17"},
};

// RISC-V kernels that know the core name it in "uarch" as vendor,core;
// the vendors' own spelling of their names.
struct RiscvVendor {
    const char* key;
    const char* name;
};
constexpr RiscvVendor kRiscvVendors[] = {
    {"sifive", "SiFive"}, {"thead", "T-Head"}, {"starfive", "StarFive"}, {"andestech", "Andes"},
    {"spacemit", "SpacemiT"},
};

std::optional<unsigned> number(const std::optional<std::string>& text) {
    if (!text || text->empty()) return std::nullopt;
    char* end = nullptr;
    const unsigned long value = std::strtoul(text->c_str(), &end, 0);
    if (*end != '\0') return std::nullopt;
    return static_cast<unsigned>(value);
}

// The "key : value" blocks of a cpuinfo text, one per processor.
std::vector<std::string> blocks_of(const std::string& cpuinfo) {
    std::vector<std::string> blocks(1);
    std::istringstream lines(cpuinfo);
    for (std::string line; std::getline(lines, line);) {
        if (line.find_first_not_of(" \t\r") == std::string::npos) {
            if (!blocks.back().empty()) blocks.emplace_back();
        } else {
            blocks.back() += line + "\n";
        }
    }
    return blocks;
}

void append(std::string& list, const std::string& item, const std::string& separator) {
    if (!item.empty()) list += (list.empty() ? "" : separator) + item;
}

// Appends item unless the list has it already, whole.
void add_distinct(std::string& list, const std::string& item, const std::string& separator) {
    for (std::size_t start = 0; start < list.size();) {
        const std::size_t end = std::min(list.find(separator, start), list.size());
        if (list.compare(start, end - start, item) == 0) return;
        start = end + separator.size();
    }
    append(list, item, separator);
}

// Each kind of core once, in the order the kernel lists them ("ARM Cortex-A76
// + ARM Cortex-A55" on a phone's processor).
ProcessorName name_arm(const std::string& cpuinfo) {
    ProcessorName named{Family::arm, "", ""};
    bool every_core_named = true;
    for (const std::string& block : blocks_of(cpuinfo)) {
        const std::optional<unsigned> implementer = number(proc_value(block, "CPU implementer"));
        const std::optional<unsigned> part = number(proc_value(block, "CPU part"));
        if (!implementer || !part) continue;
        std::string ids;
        for (const char* key : {"implementer", "part", "variant", "revision"}) {
            if (const auto value = proc_value(block, std::string("CPU ") + key)) append(ids, key + (" " + *value), " ");
        }
        add_distinct(named.ids, ids, "; ");
        const auto maker = std::find_if(std::begin(kArmImplementers), std::end(kArmImplementers),
                                        [&](const ArmImplementer& m) { return m.id == *implementer; });
        const auto core = std::find_if(std::begin(kArmParts), std::end(kArmParts), [&](const ArmPart& p) {
            return p.implementer == *implementer && p.part == *part;
        });
        if (maker == std::end(kArmImplementers) || core == std::end(kArmParts)) {
            every_core_named = false;
            continue;
        }
        add_distinct(named.name, std::string(maker->name) + " " + core->name, " + ");
    }
    // A core the table does not know: a 32-bit kernel's own "model name" is
    // better than half a name, and no name better than a wrong one.
    if (!every_core_named) named.name = proc_value(cpuinfo, "model name").value_or("");
    return named;
}

ProcessorName name_riscv(const std::string& cpuinfo) {
    ProcessorName named{Family::riscv, "", ""};
    for (const char* key : {"mvendorid", "marchid", "mimpid", "isa"}) {
        if (const auto value = proc_value(cpuinfo, key)) append(named.ids, std::string(key) + " " + *value, " ");
    }
    const std::string uarch = proc_value(cpuinfo, "uarch").value_or("");
    const std::size_t comma = uarch.find(',');
    if (comma == std::string::npos) return named;
    std::string vendor = uarch.substr(0, comma);
    for (const RiscvVendor& known : kRiscvVendors) {
        if (vendor == known.key) vendor = known.name;
    }
    std::string core = uarch.substr(comma + 1);
    std::transform(core.begin(), core.end(), core.begin(), [](unsigned char c) { return std::toupper(c); });
    named.name = vendor + " " + core;
    return named;
}

// "POWER9 (raw), altivec supported" -> "IBM POWER9".
ProcessorName name_power(const std::string& cpuinfo) {
    ProcessorName named{Family::power, "", ""};
    std::string cpu = proc_value(cpuinfo, "cpu").value_or("");
    cpu = cpu.substr(0, std::min(cpu.find(','), cpu.find(" (")));
    if (cpu.rfind("POWER", 0) == 0) named.name = "IBM " + cpu;
    if (const auto revision = proc_value(cpuinfo, "revision")) named.ids = "revision " + *revision;
    if (const auto machine = proc_value(cpuinfo, "machine")) append(named.ids, "machine " + *machine, ", ");
    return named;
}

// "processor 0: version = FF,  identification = 0A2B48,  machine = 8561".
ProcessorName name_s390(const std::string& cpuinfo) {
    ProcessorName named{Family::s390, "", ""};
    const std::size_t at = cpuinfo.find("machine = ");
    if (at == std::string::npos) return named;
    const std::size_t end = cpuinfo.find_first_not_of("0123456789ABCDEFabcdef", at + 10);
    const std::string type = cpuinfo.substr(at + 10, end == std::string::npos ? end : end - at - 10);
    named.ids = "machine " + type;
    for (const MachineType& known : kZMachines) {
        if (type == known.type) named.name = known.name;
    }
    return named;
}

ProcessorName name_x86(const std::string& cpuinfo) {
    ProcessorName named{Family::x86, proc_value(cpuinfo, "model name").value_or(""), ""};
    for (const char* key : {"vendor_id", "cpu family", "model", "stepping"}) {
        if (const auto value = proc_value(cpuinfo, key)) append(named.ids, std::string(key) + " " + *value, " ");
    }
    return named;
}

}  // namespace

ProcessorName name_processor(const std::string& cpuinfo) {
    if (proc_value(cpuinfo, "CPU implementer")) return name_arm(cpuinfo);
    if (proc_value(cpuinfo, "isa").value_or("").rfind("rv", 0) == 0) return name_riscv(cpuinfo);
    if (proc_value(cpuinfo, "vendor_id") == "IBM/S390") return name_s390(cpuinfo);
    if (proc_value(cpuinfo, "cpu") && proc_value(cpuinfo, "timebase")) return name_power(cpuinfo);
    if (proc_value(cpuinfo, "vendor_id") && proc_value(cpuinfo, "flags")) return name_x86(cpuinfo);
    return {};
}

Family own_family() {
#if defined(__x86_64__) || defined(__i386__)
    return Family::x86;
#elif defined(__aarch64__) || defined(__arm__)
    return Family::arm;
#elif defined(__riscv)
    return Family::riscv;
#elif defined(__powerpc__)
    return Family::power;
#elif defined(__s390__)
    return Family::s390;
#else
    return Family::unknown;
#endif
}

namespace {

std::string bytes_of_hex(const std::string& hex) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes += static_cast<char>(std::strtoul(hex.substr(i, 2).c_str(), nullptr, 16));
    }
    return bytes;
}

// The interpreter of an enabled magic entry that matches the program's head.
std::optional<std::string> handler_for(const std::string& entry, const std::string& head) {
    std::istringstream lines(entry);
    std::string first;
    if (!std::getline(lines, first) || first != "enabled") return std::nullopt;
    std::string interpreter, magic, mask;
    std::size_t offset = 0;
    for (std::string line; std::getline(lines, line);) {
        const std::size_t space = line.find(' ');
        const std::string key = line.substr(0, space), value = space == std::string::npos ? "" : line.substr(space + 1);
        if (key == "interpreter") interpreter = value;
        if (key == "offset") offset = std::strtoul(value.c_str(), nullptr, 10);
        if (key == "magic") magic = bytes_of_hex(value);
        if (key == "mask") mask = bytes_of_hex(value);
    }
    if (magic.empty() || interpreter.empty() || offset + magic.size() > head.size()) return std::nullopt;
    for (std::size_t i = 0; i < magic.size(); ++i) {
        const auto m = static_cast<unsigned char>(i < mask.size() ? mask[i] : '\xff');
        if ((static_cast<unsigned char>(head[offset + i]) & m) != (static_cast<unsigned char>(magic[i]) & m)) {
            return std::nullopt;
        }
    }
    return interpreter;
}

}  // namespace

std::string emulator_of(Family own, Family described, const std::string& program_head,
                        const std::vector<std::string>& binfmt_entries) {
    for (const std::string& entry : binfmt_entries) {
        if (const std::optional<std::string> interpreter = handler_for(entry, program_head)) {
            // Debian's handlers are /usr/libexec/qemu-binfmt/<arch>-binfmt-P.
            if (interpreter->find("qemu") != std::string::npos) return "qemu-user";
            return interpreter->substr(interpreter->rfind('/') + 1);
        }
    }
    // This program itself emulated, started by hand rather than through a
    // handler: which emulator it is, nothing says.
    if (own != Family::unknown && described != Family::unknown && own != described) return "user-mode emulator";
    return "";
}

}  // namespace ptrun
