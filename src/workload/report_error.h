// The single error path. Every check in the workload, the driver and the
// shell ends here; nothing is returned up the call chain to be handled.
#pragma once

// Prints text to the output file, records it in the result file or shows it
// in a message box, and ends the process with exit code 255. Declared here,
// at the bottom, so that every layer may report an error without seeing the
// shell's settings; the shell, which knows where the message goes, defines it.
[[noreturn]] void report_error(const char* text);
