// The table a call prints: the machine and build, every run, and the summary.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "model/document.h"

namespace ptrun {

std::string terminal_table(const Document& document);
// What differs between the builds compared, loudly, and the verdict for each
// entry of a comparison.
void print_comparison(std::FILE* to, const std::vector<ComparisonEntry>& entries);

}  // namespace ptrun
