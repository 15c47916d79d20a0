// Windows' logical processors as ptrun numbers them: every active processor
// of group 0 in the order of its bits, then group 1's, and so on, so that a
// machine of more than 64 processors is numbered on, as on Linux.
#pragma once

#include <windows.h>

#include <vector>

namespace ptrun {

struct GroupProcessor {
    WORD group = 0;
    KAFFINITY bit = 0;
};

// Every active logical processor of the machine, in ptrun's numbering.
std::vector<GroupProcessor> active_processors();

}  // namespace ptrun
