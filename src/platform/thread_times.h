// The platform's own reading of the thread's times, behind the replaceable
// source of platform.h.
#pragma once

#include "platform/platform.h"

ThreadTimes system_thread_times();
