// The table a call prints: the machine and build, every run, and the summary.
#pragma once

#include <cstdio>

#include "results.h"

namespace ptrun {

void print_table(std::FILE* to, const Json& document);
// What differs between the builds compared, loudly, and the verdict for each
// entry of a `comparison`.
void print_comparison(std::FILE* to, const Json& entries);

}  // namespace ptrun
