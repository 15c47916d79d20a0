// The table a call prints: the machine and build, every run, and the summary;
// the same writer is the "table" format of ptrun report.
#pragma once

#include <string>

#include "model/document.h"

namespace ptrun {

std::string terminal_table(const Document& document);

}  // namespace ptrun
