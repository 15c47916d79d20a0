// The signals that end a call. They are blocked from the start and read from
// a descriptor, so one arriving at any moment is noticed where ptrun waits,
// and the call ends cleanly wherever it stands.
#pragma once

namespace ptrun {

// Blocks SIGINT, SIGTERM and SIGHUP (those ignored when ptrun started left
// out: under nohup a hang-up stays ignored) and SIGCHLD, which wakes a wait.
// Also ignores SIGPIPE and makes ptrun the subreaper of what it starts, so
// that what a child leaves behind can be ended and reaped. Idempotent; taken
// on first use when no one took them before.
void take_signals();

// The first stop signal that arrived since the signals were taken, or 0.
// Once one has arrived it stays the answer: every wait after it ends at once.
int stop_signal();

// A descriptor that becomes readable when a taken signal arrives: what a
// wait polls beside its pipes. Reading it is stop_signal's business.
int signal_descriptor();

// In a child about to run another program: nothing blocked and SIGPIPE at
// its default, as a program expects.
void reset_child_signals();

}  // namespace ptrun
