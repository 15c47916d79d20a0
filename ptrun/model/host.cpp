#include "model/host.h"

namespace ptrun {

BuildInfo parse_build_line(const std::string& line) {
    BuildInfo info;
    std::string rest = line;
    if (rest.rfind("ptverify ", 0) == 0) rest = rest.substr(9);
    if (rest.rfind("version ", 0) != 0) return info;
    rest = rest.substr(8);
    const std::size_t for_at = rest.find(" for ");
    const std::size_t by_at = rest.find(", built by ");
    const std::size_t with_at = rest.find(" with ", by_at == std::string::npos ? 0 : by_at);
    if (for_at == std::string::npos || by_at == std::string::npos || with_at == std::string::npos ||
        !(for_at < by_at && by_at < with_at)) {
        return info;
    }
    info.version = rest.substr(0, for_at);
    info.target = rest.substr(for_at + 5, by_at - for_at - 5);
    const std::string compiler = rest.substr(by_at + 11, with_at - by_at - 11);
    const std::size_t space = compiler.rfind(' ');
    info.compiler = space == std::string::npos ? compiler : compiler.substr(0, space);
    info.compiler_version = space == std::string::npos ? "" : compiler.substr(space + 1);
    info.flags = rest.substr(with_at + 6);
    // Earlier builds wrote CMake's name for GCC.
    if (info.compiler == "GNU") info.compiler = "GCC";
    return info;
}

}  // namespace ptrun
