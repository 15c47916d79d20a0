// Parsing module: expression scanner, tree builder and evaluator copies.
#pragma once

#include <cstdint>

// Record cursor of the parse step; never reset after program start.
extern std::int32_t parse_cursor;

void parse_step();
