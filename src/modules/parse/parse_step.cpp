#include "modules/parse/parse.h"

std::int32_t parse_cursor;

// The parsing workload is not part of the work unit yet.
void parse_step() {}
