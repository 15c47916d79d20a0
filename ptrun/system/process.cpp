// What every system's process handle shares: its lifetime and the bounded
// capture of a program's output, on the calls of posix/ or win32/.
#include "system/process.h"

#include <utility>

#include "system/signals.h"

namespace ptrun {

Process::Process() = default;

Process::Process(Process&& other) noexcept : state_(std::move(other.state_)) {}

Process& Process::operator=(Process&& other) noexcept {
    if (this == &other) return *this;
    if (state_) end_all({this}, 0);
    state_ = std::move(other.state_);
    return *this;
}

Process::~Process() {
    if (state_) end_all({this}, 0);
}

Captured capture(Launch launch, std::size_t kept, double seconds_allowed) {
    Captured captured;
    if (stop_signal() != 0) {
        captured.end = Captured::End::stopped;
        return captured;
    }
    launch.output_to_pipe = true;
    Process process;
    if (!process.start(launch, captured.error)) return captured;
    bool cut = false;
    for (;;) {
        process.read_pipe(captured.output, kept, false, cut);
        if (process.reap(captured.ending)) {
            process.read_pipe(captured.output, kept, false, cut);  // what it wrote just before it ended
            captured.end = cut ? Captured::End::too_much : Captured::End::exited;
            break;
        }
        const double left = seconds_allowed - process.seconds();
        if (stop_signal() != 0) {
            captured.end = Captured::End::stopped;
        } else if (cut) {
            captured.end = Captured::End::too_much;
        } else if (left <= 0) {
            captured.end = Captured::End::too_long;
        } else {
            wait_for({&process}, left);
            continue;
        }
        end_all({&process}, 0);
        break;
    }
    return captured;
}

}  // namespace ptrun
