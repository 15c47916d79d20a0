// Included before every Windows test source. A death test runs its case in a
// new process of the test program; under an emulation layer that is slow
// enough that the run sets PT_SKIP_DEATH_TESTS, and such cases then report as
// skipped instead of running. The error paths they cover are checked against
// the real pt.exe by the Windows test script.
#pragma once

#include "support/gtest_threads_win32.h"

#include <gtest/gtest.h>

#include <cstdlib>

inline bool pt_death_tests_skipped() {
    const char* value = std::getenv("PT_SKIP_DEATH_TESTS");
    return value != nullptr && value[0] != '\0' && value[0] != '0';
}

#undef EXPECT_EXIT
#define EXPECT_EXIT(statement, predicate, regex)                                   \
    switch (0)                                                                     \
    case 0:                                                                        \
    default:                                                                       \
        if (pt_death_tests_skipped()) {                                            \
            GTEST_SKIP() << "death tests are off (PT_SKIP_DEATH_TESTS)";           \
        } else                                                                     \
            GTEST_DEATH_TEST_(statement, predicate, regex, GTEST_NONFATAL_FAILURE_)
