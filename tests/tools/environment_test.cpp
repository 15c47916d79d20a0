// The environment as the machine tells it, read from hand-made /sys and
// /proc texts and trees: empty where the machine says nothing, never a guess.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "ptrun/environment.h"
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
    const std::vector<std::tuple<std::string, Text, std::string, Text>> cases = {
        {guest, "xen\n", "", "xen"},
        {guest, std::nullopt, "KVMKVMKVM", "KVMKVMKVM"},
        {guest, std::nullopt, "", "present"},
        {bare, std::nullopt, "", "none"},
        {"processor\t: 0\n", std::nullopt, "", std::nullopt}};
    for (const auto& [cpuinfo, type, signature, expected] : cases) {
        EXPECT_EQ(hypervisor_of(cpuinfo, type, signature), expected) << cpuinfo << signature;
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
