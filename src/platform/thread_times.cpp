#include "platform/thread_times.h"

namespace {

ThreadTimesSource current_source = system_thread_times;

}  // namespace

ThreadTimes thread_times() { return current_source(); }

void set_thread_times_source(ThreadTimesSource source) {
    current_source = source != nullptr ? source : system_thread_times;
}
