#include <windows.h>

#include "platform/platform.h"

namespace {

std::uint32_t system_ticks() { return GetTickCount(); }

TickSource current_source = system_ticks;

}  // namespace

std::uint32_t tick_count() { return current_source(); }

void set_tick_source(TickSource source) { current_source = source != nullptr ? source : system_ticks; }
