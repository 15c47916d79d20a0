// What ends a call from outside: Ctrl-C, a hang-up or a termination request
// on POSIX; Ctrl-C, Ctrl-Break, the console's close, log-off or shut-down on
// Windows. Each is noticed where ptrun waits, so the call ends cleanly
// wherever it stands, and is told by the number of the POSIX signal it
// stands for, the call's exit code being 128 plus that number.
#pragma once

namespace ptrun {

// The numbers a stop is told by, the same on every system.
inline constexpr int kHangUpStop = 1;      // SIGHUP; the console closed
inline constexpr int kInterruptStop = 2;   // SIGINT; Ctrl-C or Ctrl-Break
inline constexpr int kTerminateStop = 15;  // SIGTERM; log-off or shut-down

// Starts noticing them (on POSIX: blocks SIGINT, SIGTERM and SIGHUP, those
// ignored when ptrun started left out: under nohup a hang-up stays ignored;
// ignores SIGPIPE and makes ptrun the subreaper of what it starts).
// Idempotent; taken on first use when no one took them before.
void take_signals();

// The first stop that arrived since they were taken, or 0. Once one has
// arrived it stays the answer: every wait after it ends at once.
int stop_signal();

}  // namespace ptrun
