// Death tests run their case in a new process of the test program. Under an
// emulation layer that is slow enough that the run sets PT_SKIP_DEATH_TESTS,
// and the suites whose tests end the process then report as skipped instead
// of running; the Windows test script checks the error path against the real
// pt.exe instead.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>

inline bool death_tests_off() {
    const char* value = std::getenv("PT_SKIP_DEATH_TESTS");
    return value != nullptr && value[0] != '\0' && value[0] != '0';
}

// The fixture of a suite of death tests: Fixture's set-up, unless death tests
// are off, in which case every test of the suite is skipped.
template <class Fixture = testing::Test>
class DeathTestOf : public Fixture {
protected:
    void SetUp() override {
        if (death_tests_off()) GTEST_SKIP() << "death tests are off (PT_SKIP_DEATH_TESTS)";
        Fixture::SetUp();
    }
};
