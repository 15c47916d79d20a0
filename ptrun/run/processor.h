// The processor as each family's users know it, and whether the copies run
// in an emulator, from the texts the machine gives (/proc/cpuinfo,
// binfmt_misc entries, the head of a program file). Pure functions; the
// readers are in machine.cpp.
#pragma once

#include <string>
#include <vector>

namespace ptrun {

// The processor families whose /proc/cpuinfo ptrun reads.
enum class Family { unknown, x86, arm, riscv, power, s390 };

struct ProcessorName {
    Family family = Family::unknown;
    std::string name;  // "ARM Neoverse-N1", "IBM z15", ...; empty when the text does not tell
    std::string ids;   // the raw identification it was named from, or empty
};

// The family a /proc/cpuinfo text describes, and its processor's name.
ProcessorName name_processor(const std::string& cpuinfo);

// The family this program was compiled for.
Family own_family();

// The emulator a program runs under: "qemu-user" (or the handler's file
// name) when one of the binfmt_misc entries (the texts of
// /proc/sys/fs/binfmt_misc/<name>) is enabled and matches the head of the
// program file (the kernel hands such a program to that handler, not to
// the processor); "user-mode emulator" when this program's own family
// differs from the one /proc/cpuinfo describes (qemu-user passes the
// host's text through); otherwise empty.
std::string emulator_of(Family own, Family described, const std::string& program_head,
                        const std::vector<std::string>& binfmt_entries);

}  // namespace ptrun
