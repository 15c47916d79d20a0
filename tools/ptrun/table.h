// The table a call prints: the machine and build, every run, and the summary.
#pragma once

#include <cstdio>

#include "results.h"

namespace ptrun {

void print_table(std::FILE* to, const Json& document);

}  // namespace ptrun
