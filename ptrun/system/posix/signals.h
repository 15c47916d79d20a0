// What the POSIX process handle needs of the signal side.
#pragma once

namespace ptrun {

// A descriptor that becomes readable when a taken signal (SIGCHLD among
// them) arrives: what a wait polls beside its pipes; -1 where the system has
// no signal descriptors. Reading it is stop_signal's business.
int signal_descriptor();

// In a child about to run another program: nothing blocked and SIGPIPE at
// its default, as a program expects.
void reset_child_signals();

}  // namespace ptrun
