// The environment as the machine tells it, read from hand-made /sys and
// /proc texts and trees: empty where the machine says nothing, never a guess.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "ptrun/run/environment.h"
#include "ptrun/run/machine.h"
#include "ptrun/run/processor.h"
#include "support/test_support.h"

using namespace ptrun;
using Text = std::optional<std::string>;

TEST(PtrunEnvironment, BoostFromEitherSwitchAndNothingWhereNoneSays) {
    const std::vector<std::tuple<Text, Text, Text>> cases = {{"1\n", std::nullopt, "on"},
                                                             {"0\n", "0\n", "off"},
                                                             {std::nullopt, "1\n", "off"},
                                                             {std::nullopt, "0", "on"},
                                                             {"2\n", std::nullopt, std::nullopt},
                                                             {"", "", std::nullopt},
                                                             {std::nullopt, std::nullopt, std::nullopt}};
    for (const auto& [boost, no_turbo, expected] : cases) {
        EXPECT_EQ(boost_of(boost, no_turbo), expected) << boost.value_or("-") << " " << no_turbo.value_or("-");
    }
}

TEST(PtrunEnvironment, HypervisorNamedPresentNoneOrUnknown) {
    const std::string guest = "processor\t: 0\nflags\t\t: fpu sse2 hypervisor lm\n";
    const std::string bare = "processor\t: 0\nflags\t\t: fpu sse2 lm hypervisorish\n";
    const std::string arm = "processor\t: 0\nFeatures\t: fp asimd evtstrm\nCPU implementer\t: 0x41\n";
    const std::vector<std::tuple<std::string, HypervisorClues, Text>> cases = {
        {guest, {"xen\n", "", {}, {}, {}}, "Xen"},
        {guest, {{}, "KVMKVMKVM", {}, {}, {}}, "KVM"},
        {guest, {{}, "MicrosoftHv", {}, {}, {}}, "Microsoft Hyper-V"},
        {guest, {{}, "TCGTCGTCGTCG", {}, {}, {}}, "QEMU (TCG)"},
        {guest, {{}, "NewVisor", {}, {}, {}}, "NewVisor"},
        {guest, {}, "present"},
        {bare, {}, "none"},
        {arm, {{}, "", std::string("xen,xen-4.17\0xen,xen\0", 22), {}, {}}, "Xen"},
        {arm, {{}, "", {}, "QEMU\n", "QEMU Virtual Machine\n"}, "QEMU"},
        {arm, {{}, "", {}, "Amazon EC2\n", "c7g.metal\n"}, std::nullopt},
        {arm, {{}, "", {}, "Ampere(R)\n", "Mt.Jade\n"}, std::nullopt},
        {"processor\t: 0\n", {}, std::nullopt}};
    for (const auto& [cpuinfo, clues, expected] : cases) {
        EXPECT_EQ(hypervisor_of(cpuinfo, clues), expected) << cpuinfo << clues.signature;
    }
}

// Each family's processor and hypervisor from the files its kernel writes
// (tests/ptrun/fixtures/<machine>/{proc,sys}).
TEST(PtrunEnvironment, EachFamilyNamedFromItsOwnFiles) {
    struct Case {
        const char* machine;
        Family family;
        const char* processor;
        const char* ids;
        Text hypervisor;
    };
    const std::vector<Case> cases = {
        {"aarch64-neoverse-n1-kvm", Family::arm, "ARM Neoverse-N1",
         "implementer 0x41 part 0xd0c variant 0x3 revision 1", "KVM"},
        {"aarch64-rk3399", Family::arm, "ARM Cortex-A53 + ARM Cortex-A72",
         "implementer 0x41 part 0xd03 variant 0x0 revision 4; implementer 0x41 part 0xd08 variant 0x0 revision 2",
         std::nullopt},
        {"armv7-raspberry-pi-3", Family::arm, "ARM Cortex-A53", "implementer 0x41 part 0xd03 variant 0x0 revision 4",
         std::nullopt},
        {"armv7-unknown-part", Family::arm, "ARMv7 Processor rev 1 (v7l)",
         "implementer 0x41 part 0xc99 variant 0x0 revision 1", std::nullopt},
        {"riscv64-visionfive2", Family::riscv, "SiFive U74-MC",
         "mvendorid 0x489 marchid 0x8000000000000007 mimpid 0x4210427 "
         "isa rv64imafdc_zicntr_zicsr_zifencei_zihpm_zba_zbb",
         std::nullopt},
        {"riscv64-qemu-virt", Family::riscv, "",
         "mvendorid 0x0 marchid 0x0 mimpid 0x0 isa rv64imafdch_zicbom_zicboz_zicsr_zifencei_zihintpause_zbb_sstc",
         "KVM"},
        {"ppc64le-power9-powernv", Family::power, "IBM POWER9",
         "revision 2.2 (pvr 004e 1202), machine PowerNV 9006-22P", std::nullopt},
        {"s390x-z15-zvm", Family::s390, "IBM z15", "machine 8561", "z/VM Hypervisor"},
        {"x86_64-epyc-guest", Family::x86, "AMD EPYC 9R14 96-Core Processor",
         "vendor_id AuthenticAMD cpu family 25 model 17 stepping 1", "Amazon EC2 Nitro"},
    };
    for (const Case& c : cases) {
        const std::string root = std::string(PT_TOOLS_FIXTURES) + "/" + c.machine;
        const ProcessorName named = name_processor(read_text(root + "/proc/cpuinfo"));
        EXPECT_EQ(named.family, c.family) << c.machine;
        EXPECT_EQ(named.name, c.processor) << c.machine;
        EXPECT_EQ(named.ids, c.ids) << c.machine;
        EXPECT_EQ(read_environment({}, root).hypervisor, c.hypervisor) << c.machine;
    }
}

// A program runs emulated when an enabled binfmt_misc entry claims its ELF
// header, or when this program's own family is not the one cpuinfo names.
TEST(PtrunEnvironment, EmulatorFromTheHandlerThatClaimsTheProgram) {
    const auto elf = [](unsigned char machine) {
        std::string head = std::string("\x7f" "ELF\x02\x01\x01", 7) + std::string(9, '\0');
        return head + std::string("\x02\x00", 2) + static_cast<char>(machine) + std::string(109, '\0');
    };
    const std::string qemu = read_text(std::string(PT_TOOLS_FIXTURES) + "/binfmt_misc/qemu-aarch64");
    std::string disabled = qemu;
    disabled.replace(0, 7, "disabled");
    std::string other = qemu;
    other.replace(other.find("/usr/libexec/qemu-binfmt/aarch64-binfmt-P"), 41, "/usr/bin/FEXInterpreter");
    const std::vector<std::tuple<Family, Family, std::string, std::vector<std::string>, std::string>> cases = {
        {Family::x86, Family::x86, elf(0xb7), {qemu}, "qemu-user"},
        {Family::x86, Family::x86, elf(0xb7), {other}, "FEXInterpreter"},
        {Family::x86, Family::x86, elf(0x3e), {qemu}, ""},
        {Family::x86, Family::x86, elf(0xb7), {disabled}, ""},
        {Family::x86, Family::x86, elf(0xb7).substr(0, 19), {qemu}, ""},
        {Family::arm, Family::x86, elf(0xb7), {}, "user-mode emulator"},
        {Family::arm, Family::unknown, elf(0xb7), {}, ""},
    };
    for (const auto& [own, described, head, entries, expected] : cases) {
        EXPECT_EQ(emulator_of(own, described, head, entries), expected) << static_cast<unsigned char>(head[18]) + 0;
    }
}

TEST(PtrunEnvironment, NumbersOnlyWhenWholeAndKeysOnlyWhenExact) {
    EXPECT_EQ(sys_number(Text("3400000\n")), 3400000);
    EXPECT_EQ(sys_number(Text("-2500\n")), -2500);
    for (const Text& bad : {Text("34x\n"), Text(""), Text("\n"), Text(std::nullopt)}) EXPECT_FALSE(sys_number(bad));
    const std::string cpuinfo = "model name\t: Some CPU\nmicrocode_extra\t: 1\nmicrocode\t: 0xa0011d1\n";
    EXPECT_EQ(proc_value(cpuinfo, "microcode"), "0xa0011d1");
    EXPECT_EQ(proc_value(cpuinfo, "model name"), "Some CPU");
    EXPECT_FALSE(proc_value(cpuinfo, "model"));
}

TEST(PtrunEnvironment, ReadsATreeWithUniqueSensorNamesAndNullsForWhatIsMissing) {
    TempDir dir;
    const std::string root = dir.path();
    const auto put = [&root](const std::string& path, const std::string& text) {
        std::filesystem::create_directories(std::filesystem::path(root + path).parent_path());
        write_file(root + path, text);
    };
    put("/sys/devices/system/cpu/smt/control", "off\n");
    put("/sys/devices/system/cpu/intel_pstate/no_turbo", "1\n");
    put("/sys/devices/system/cpu/vulnerabilities/meltdown", "Not affected\n");
    put("/sys/devices/system/cpu/cpu1/cpufreq/scaling_cur_freq", "2100000\n");
    put("/sys/devices/system/cpu/cpu1/cpufreq/scaling_max_freq", "3500000\n");
    put("/sys/class/thermal/thermal_zone0/type", "acpitz\n");
    put("/sys/class/thermal/thermal_zone0/temp", "41000\n");
    put("/sys/class/thermal/thermal_zone1/type", "acpitz\n");
    put("/sys/class/thermal/thermal_zone1/temp", "43500\n");
    put("/sys/class/thermal/thermal_zone2/type", "broken\n");
    put("/sys/class/hwmon/hwmon0/name", "coretemp\n");
    put("/sys/class/hwmon/hwmon0/temp1_input", "52000\n");
    put("/sys/class/hwmon/hwmon0/temp1_label", "Package id 0\n");
    put("/sys/class/hwmon/hwmon0/temp2_input", "50000\n");
    put("/sys/class/hwmon/hwmon0/temp2_max", "90000\n");
    put("/proc/cpuinfo", "flags\t\t: fpu lm\n");

    const Environment environment = read_environment({1, 3, 1}, root);
    EXPECT_EQ(environment.smt, "off");
    EXPECT_EQ(environment.boost, "off");
    EXPECT_EQ(environment.hypervisor, "none");
    EXPECT_FALSE(environment.microcode);
    EXPECT_EQ(environment.vulnerabilities,
              (std::vector<std::pair<std::string, std::string>>{{"meltdown", "Not affected"}}));
    ASSERT_EQ(environment.now.cpus.size(), 2u);
    EXPECT_EQ(environment.now.cpus[0].current_khz, 2100000);
    EXPECT_EQ(environment.now.cpus[0].max_khz, 3500000);
    EXPECT_FALSE(environment.now.cpus[0].min_khz);
    EXPECT_FALSE(environment.now.cpus[1].current_khz);
    const std::vector<std::pair<std::string, double>> temperatures = {
        {"acpitz", 41.0}, {"acpitz#2", 43.5}, {"coretemp/Package id 0", 52.0}, {"coretemp/temp2", 50.0}};
    EXPECT_EQ(environment.now.temperatures_c, temperatures);
    EXPECT_EQ(only_cpu(environment.now, 3).cpus.size(), 1u);
    EXPECT_EQ(only_cpu(environment.now, 3).cpus[0].cpu, 3);
}

// Cores are (package, core) pairs: core numbers repeat across packages; SMT siblings, offline processors (no
// topology) and folders other than cpuN add none.
TEST(PtrunEnvironment, PhysicalCoresFromTheTopologyOfEachProcessor) {
    using Topology = std::vector<std::tuple<std::string, Text, Text>>;  // folder, package, core
    const std::vector<std::pair<Topology, std::optional<long>>> cases = {
        {{{"cpu0", "0", "0"}, {"cpu1", "0", "1"}, {"cpu2", "1", "0"}, {"cpu3", "1", "1"}, {"cpu4", "1", "1\n"}}, 4},
        {{{"cpu0", "0", "0"}, {"cpu10", "0", "4"}, {"cpu2", "0", {}}, {"cpu3", {}, {}}, {"cpufreq", "0", "9"}}, 2},
        {{{"cpu0", {}, {}}, {"cpuidle", "0", "0"}}, std::nullopt}};
    for (const auto& [topology, expected] : cases) {
        TempDir dir;
        for (const auto& [folder, package, core] : topology) {
            const std::string at = dir.path() + "/sys/devices/system/cpu/" + folder + "/topology/";
            std::filesystem::create_directories(at);
            if (package) write_file(at + "physical_package_id", *package);
            if (core) write_file(at + "core_id", *core);
        }
        EXPECT_EQ(physical_cores(dir.path()), expected) << topology.size();
    }
}
