// Included first in every source of ptrun's Windows test program: windows.h,
// which GoogleTest's thread support brings into every source, defines far
// and near as nothing, and min and max, which the portable suites use as
// names.
#pragma once

#define NOMINMAX
#include <windows.h>
#undef far
#undef near
