// Library module: the program's own printf-style formatter, driven by a
// cycle of format scripts.
#pragma once

void library_step();
