// What the Windows process handle needs of the console's stops, and the
// system's words for a failure.
#pragma once

#include <windows.h>

#include <string>

namespace ptrun {

// An event set when a stop arrives: what a wait waits on beside the
// processes. Never null once the stops are taken.
HANDLE stop_event();

// What the system says of an error code, on one line.
std::string error_text(DWORD code);

}  // namespace ptrun
