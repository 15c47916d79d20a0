#include "modules/library/library.h"

// The library workload is not part of the work unit yet.
void library_step() {}
