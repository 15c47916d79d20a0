// A result file in a fresh directory, named as an unattended run names it.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "shell/shell.h"
#include "support/test_support.h"

class ResultFileFixture : public ::testing::Test {
protected:
    void SetUp() override {
        reset_shell_settings();
        name_ = dir_.file("r.ini");
        result_file_name = name_.c_str();
        unattended = 1;
    }
    void TearDown() override { reset_shell_settings(); }

    TempDir dir_;
    std::string name_;
};
