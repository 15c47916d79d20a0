// Splitting and option parsing, in-process. Options that open the output
// file are exercised through the real program in cli_test.cpp.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "shell/shell.h"
#include "support/test_support.h"
#include "support/death_tests.h"

namespace {

class CommandLine : public ::testing::Test {
protected:
    void SetUp() override { reset_shell_settings(); }
    void TearDown() override { reset_shell_settings(); }

    static std::vector<std::string> split(const char* text) {
        reset_shell_settings();
        split_command_line(text);
        std::vector<std::string> args;
        for (int i = 1; i < arg_count; ++i) args.emplace_back(arg_table[i]);
        return args;
    }

    static void parse(const char* text) { start_shell(text); }
};

using Args = std::vector<std::string>;

}  // namespace

TEST_F(CommandLine, SplitsOnAllSixWhiteSpaceCharactersOnly) {
    EXPECT_EQ(split(""), Args{});
    EXPECT_EQ(split(" \t\n\v\f\r "), Args{});
    EXPECT_EQ(split("  a\tb\nc\vd\fe\rf g  "), (Args{"a", "b", "c", "d", "e", "f", "g"}));
    EXPECT_EQ(split("x\xA0y \x85z"), (Args{"x\xA0y", "\x85z"}));
    EXPECT_EQ(arg_count, 3);
    EXPECT_STREQ(arg_table[0], "pt");
}

TEST_F(CommandLine, QuotesDelimitArgumentsWithoutEscapes) {
    EXPECT_EQ(split("\"ab\"cd"), (Args{"ab", "cd"}));
    EXPECT_EQ(split("'a b' \"c 'd\""), (Args{"a b", "c 'd"}));
    EXPECT_EQ(split("ab\"cd ef\""), (Args{"ab\"cd", "ef\""}));
    EXPECT_EQ(split("\"\" x"), (Args{"", "x"}));
    EXPECT_EQ(split("a \"unterminated  rest of line"), (Args{"a", "unterminated  rest of line"}));
    EXPECT_EQ(split("'a\\' b"), (Args{"a\\", "b"}));
}

TEST_F(CommandLine, MoreThanNineteenArgumentsAreNeverStoredPastTheTable) {
    std::string text;
    for (int i = 0; i < 19; ++i) text += "a ";
    split(text.c_str());
    EXPECT_EQ(arg_count, 20);
    EXPECT_FALSE(arg_table_overflow);
    text += "b c";
    split(text.c_str());
    EXPECT_EQ(arg_count, 20);
    EXPECT_TRUE(arg_table_overflow);
}

TEST_F(CommandLine, DefaultsWithoutArguments) {
    parse("");
    EXPECT_EQ(module_number, 8);
    EXPECT_STREQ(module_label, "All modules");
    EXPECT_STREQ(version_text, "32-bit Version");
    EXPECT_EQ(unattended, 0);
    EXPECT_EQ(printing, 0);
    EXPECT_EQ(break_prompts, 0);
    EXPECT_EQ(label_stepping, 0);
    EXPECT_EQ(result_file_name, nullptr);
}

TEST_F(CommandLine, OptionsInAnyCaseAndOrderWithEitherPrefix) {
    parse("/TEST=3 results.ini -BrEaK");
    EXPECT_EQ(module_number, 3);
    EXPECT_STREQ(module_label, "Date adjustment module");
    EXPECT_EQ(break_prompts, 1);
    EXPECT_EQ(unattended, 1);
    EXPECT_STREQ(result_file_name, "results.ini");

    parse("-Test=9 /test=4");  // a later option overrides an earlier one
    EXPECT_EQ(module_number, 4);
    EXPECT_STREQ(module_label, "Word analysis module");
    EXPECT_EQ(unattended, 0);
}

TEST_F(CommandLine, ModuleNumberConvertsLikeTheStandardDecimalConversion) {
    parse("'/test= +7x'");
    EXPECT_EQ(module_number, 7);
    parse("/test=2");
    EXPECT_STREQ(module_label, "Data compression module");
    parse("/test=9");
    EXPECT_STREQ(module_label, "All non-database modules");
}

TEST_F(CommandLine, ModuleNumberZeroStartsLabelStepping) {
    parse("/test=");
    EXPECT_EQ(module_number, 1);
    EXPECT_EQ(label_stepping, 1);
    EXPECT_STREQ(module_label, "Data copy module");
    parse("/test=0");
    EXPECT_EQ(label_stepping, 1);
    // What both front ends do after each run: 2 is skipped, and 8 ends it.
    for (const std::int32_t next : {3, 4, 5, 6, 7, 8, 8}) {
        step_module_label();
        EXPECT_EQ(module_number, next);
    }
    EXPECT_EQ(label_stepping, 0);
}

TEST_F(CommandLine, EmptyOutputNameMeansNoOutputFile) {
    parse("/o=");
    EXPECT_EQ(printing, 0);
    EXPECT_STREQ(output_file_name, "");
}

TEST_F(CommandLine, AbsolutePathsNameTheResultFile) {
    parse("/tmp/results.ini /test=5");
    EXPECT_STREQ(result_file_name, "/tmp/results.ini");
    EXPECT_EQ(unattended, 1);
    EXPECT_EQ(module_number, 5);
}

TEST_F(CommandLine, LabelSelectionLeavesTheLabelForOtherNumbers) {
    module_label = "kept";
    module_number = 12;
    select_module_label();
    EXPECT_STREQ(module_label, "kept");
    EXPECT_STREQ(version_text, "32-bit Version");
    for (int n = 1; n <= 9; ++n) EXPECT_NE(module_label_for(n), nullptr);
    EXPECT_EQ(module_label_for(0), nullptr);
    EXPECT_EQ(module_label_for(10), nullptr);
}

// Usage errors end the process through the error routine; without a result
// file the message box text goes to standard error. (Cases with a plain
// argument, which would write a result file, are in cli_test.cpp.)
using CommandLineDeathTest = DeathTestOf<CommandLine>;

TEST_F(CommandLineDeathTest, UsageErrorsEndTheProcessWith255) {
    const char* const bad[] = {
        "/test=10", "/test=-1", "/test=99999999999", "/breakx", "/", "-", "/x",
        "/tmp", ("/o=" "0123456789012345678901234567890123456789012345678901234567890123456789012345678901"),
    };
    for (const char* line : bad) {
        EXPECT_EXIT(parse(line), ::testing::ExitedWithCode(255),
                    "Processor Test Error: Usage: pt \\[/o=outfilename\\] \\[/test=module\\] \\[/break\\]")
            << line;
    }
}

TEST_F(CommandLineDeathTest, TwentyArgumentsAreAUsageError) {
    // No plain argument here: a result file would be written.
    std::string text = "/break";
    for (int i = 0; i < 19; ++i) text += " /break";
    EXPECT_EXIT(parse(text.c_str()), ::testing::ExitedWithCode(255), "Usage: pt");
    text.resize(text.size() - 7);  // 19 arguments are fine
    parse(text.c_str());
    EXPECT_EQ(break_prompts, 1);
}
