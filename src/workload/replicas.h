// How the workload's replica families are stamped out. A copy is an explicit
// instantiation of its family's template, so that each is code and storage of
// its own; C++ has no loop over explicit instantiations, so a family lists its
// copies through this one helper, ten to a line. COPY(n) must expand to the
// explicit instantiation of copy n, and is defined and undefined beside the
// list that uses it.
#pragma once

#define PT_TEN_COPIES(COPY, first)                                                                  \
    COPY((first) + 0) COPY((first) + 1) COPY((first) + 2) COPY((first) + 3) COPY((first) + 4)     \
    COPY((first) + 5) COPY((first) + 6) COPY((first) + 7) COPY((first) + 8) COPY((first) + 9)
