// What the machine says about the state it runs the copies in: the settings
// that move a score (frequency governor and limits, boost, SMT, microcode,
// mitigations, a hypervisor) and what changes while copies run
// (frequencies, temperatures, load). Where the machine does not say, the
// value is left empty rather than guessed. The parsing is pure, over the
// texts of the files; the readers are thin.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "model/host.h"

namespace ptrun {

// The value of the first "key : value" line of a /proc text, or nothing.
std::optional<std::string> proc_value(const std::string& text, const std::string& key);
// The first line of a /sys text without surrounding blanks; nothing for an
// empty one.
std::optional<std::string> sys_line(const std::optional<std::string>& text);
// A whole number of kHz, or of millidegrees, as /sys writes them.
std::optional<long long> sys_number(const std::optional<std::string>& text);
// "on"/"off" from cpufreq's boost switch ("1" = on) or, failing that, the
// turbo switch of Intel's driver ("1" = no turbo).
std::optional<std::string> boost_of(const std::optional<std::string>& boost,
                                    const std::optional<std::string>& no_turbo);
// What a machine may say about a hypervisor under it, each read as is.
struct HypervisorClues {
    std::optional<std::string> sys_type;     // /sys/hypervisor/type
    std::string signature;                   // the x86 identification leaf's vendor text, blanks dropped
    std::optional<std::string> device_tree;  // /proc/device-tree/hypervisor/compatible (NUL-separated)
    std::optional<std::string> dmi_vendor;   // /sys/class/dmi/id/sys_vendor
    std::optional<std::string> dmi_product;  // /sys/class/dmi/id/product_name
};
// The hypervisor by the name its users know ("KVM", "Microsoft Hyper-V")
// where the machine gives one, "present" where only the x86 processor flag
// says so, "none" where the x86 flags say none; nothing where the machine
// does not tell (other families have no such flag).
std::optional<std::string> hypervisor_of(const std::string& cpuinfo, const HypervisorClues& clues);
// Adds a reading under name, or name#2, name#3 ... when name is taken.
void add_reading(std::vector<std::pair<std::string, double>>& readings, const std::string& name, double value);
// The snapshot with only the given processor's state.
Snapshot only_cpu(const Snapshot& snapshot, int cpu);

// root prefixes every path read, so a hand-made tree can stand in.
// The processor cores the kernel lists: the distinct (package, core) pairs of
// the online logical processors' topology; nothing where it lists none.
std::optional<long> physical_cores(const std::string& root = "");
Snapshot read_snapshot(const std::vector<int>& cpus, const std::string& root = "");
Environment read_environment(const std::vector<int>& cpus, const std::string& root = "");

}  // namespace ptrun
