// The expression evaluator copies and the parse step.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <utility>

#include "driver/work_unit.h"
#include "workload/workload.h"
#include "modules/database/database.h"
#include "modules/parse/evaluator.h"
#include "modules/parse/parse.h"
#include "platform/platform.h"
#include "shell/shell.h"
#include "support/death_tests.h"

namespace {

// Every fault ends the process through the error box. Here the box throws
// instead, so that one process can try many texts; the death tests below
// show the real path.
struct Reported {
    std::string message;
};

[[noreturn]] void throw_report(const char* text, const char*, unsigned) { throw Reported{text}; }

// Neither result file nor output file: errors go to the box alone.
void route_errors_to(MessageBoxHandler box) {
    unattended = 0;
    printing = 0;
    set_message_box_handler(box);
}

class Evaluate : public testing::Test {
protected:
    void SetUp() override { route_errors_to(throw_report); }
    void TearDown() override { set_message_box_handler(nullptr); }
};

// "= value" for a text that evaluates, else the message reported.
template <int Copy = 1>
std::string outcome(const char* text, std::int32_t evaluate = 1) {
    try {
        return "= " + std::to_string(Evaluator<Copy>::parse_and_evaluate(text, evaluate));
    } catch (const Reported& report) {
        return report.message;
    }
}

std::string value(std::int64_t v) { return "= " + std::to_string(v); }

struct Expected {
    const char* text;
    std::int32_t value;
};

// The expressions the set-up writes into long_records, with their values.
constexpr Expected kLongExpressions[] = {
    {"((2+3*7)+3+1)/2", 13},   {"(7+2)+2+2+1", 14},       {"7*(43-2-5-17)", 133},
    {"(2+3)*(4-2-1-5)", -20},  {"3+(4*5-17)", 6},         {"(5*7-12)+79", 102},
    {"((143+100)*4)/9", 108},  {"37+12*(7+2)", 145},      {"1+27/7+43+2+3", 52},
    {"2*(3+26)-4-1-4", 49},    {"3*27+(73/2)", 117},      {"22+2*(900+1+3*596)", 5400},
    {"(3+12)*(4-3-2)", -15},   {"43-2+79-2+5", 123},      {"6/(6-2-1-1)", 3},
};

TEST_F(Evaluate, LongExpressionsYieldTheirValuesInEveryCopyGroup) {
    for (const Expected& e : kLongExpressions) {
        SCOPED_TRACE(e.text);
        EXPECT_EQ(outcome<1>(e.text), value(e.value));
        EXPECT_EQ(outcome<60>(e.text), value(e.value));
        EXPECT_EQ(outcome<150>(e.text), value(e.value));
    }
}

// A copy's tree in the order its nodes were made, "#n" naming node n, with
// the operator priorities when asked.
template <int Copy>
std::string tree_of(bool with_priorities = false) {
    auto operand = [](const ParseItem& item) {
        return (item.kind == kSubtree ? "#" : "") + std::to_string(item.kind == kSubtree ? item.link : item.value);
    };
    std::string tree;
    for (int i = 0; i < Evaluator<Copy>::node_count; ++i) {
        const TreeNode& node = Evaluator<Copy>::node_table[i];
        if (i > 0) tree += ' ';
        tree += operand(node.left) + "+-*/"[node.op.kind - 1] + operand(node.right);
        if (with_priorities) tree += ':' + std::to_string(node.op.priority);
    }
    return tree;
}

TEST_F(Evaluate, TreesGroupEqualPrioritiesLeftAndMinusBeforePlus) {
    ASSERT_EQ(outcome<3>("43-2+79-2+5"), value(123));
    EXPECT_EQ(tree_of<3>(), "43-2 79-2 #0+#1 #2+5");
    ASSERT_EQ(outcome<3>("2+3-4"), value(1));
    EXPECT_EQ(tree_of<3>(), "3-4 2+#0");
    ASSERT_EQ(outcome<3>("43-2-5-17"), value(19));
    EXPECT_EQ(tree_of<3>(), "43-2 #0-5 #1-17");
}

TEST_F(Evaluate, BracketLevelsRaisePrioritiesAndNothingElse) {
    ASSERT_EQ(outcome<4>("((2+3*7)+3+1)/2"), value(13));
    EXPECT_EQ(tree_of<4>(true), "3*7:210 2+#0:201 #1+3:101 #2+1:101 #3/2:10");
    ASSERT_EQ(outcome<5>("2*(3+4)"), value(14));
    ASSERT_EQ(outcome<6>("(2*(3+4))"), value(14));
    EXPECT_EQ(tree_of<5>(), tree_of<6>());
    EXPECT_EQ(tree_of<5>(true), "3+4:101 2*#0:10");
    EXPECT_EQ(tree_of<6>(true), "3+4:201 2*#0:110");
}

TEST_F(Evaluate, WithoutEvaluationTheTreeIsOnlyBuilt) {
    // The zero divisor would be reported by an evaluation.
    EXPECT_EQ(outcome<7>("(1+2)/(3-3)", 0), value(1));
    EXPECT_EQ(tree_of<7>(), "1+2 3-3 #0/#1");
    EXPECT_EQ(outcome<7>("(1+2)/(3-3)", 1), kCalculationError);
}

TEST_F(Evaluate, EachCopyKeepsItsOwnTreeAndEvaluatesOnlyInsideIt) {
    ASSERT_EQ(outcome<8>("37+12*(7+2)"), value(145));
    ASSERT_EQ(outcome<9>("(7+2)+5"), value(14));
    EXPECT_EQ(Evaluator<8>::evaluate_tree_node(Evaluator<8>::node_count - 1), 145);
    EXPECT_EQ(Evaluator<9>::evaluate_tree_node(0), 9);
    for (std::int32_t outside : {-1, 2}) {
        try {
            Evaluator<9>::evaluate_tree_node(outside);
            ADD_FAILURE() << "node " << outside << " was evaluated";
        } catch (const Reported& report) {
            EXPECT_EQ(report.message, kCalculationError);
        }
    }
}

template <int Copy>
void scan_number_in_copy(int number) {
    const std::string text = "(1+" + std::to_string(number) + ")";
    Evaluator<Copy>::parse_and_evaluate(text.c_str(), 0);
}

TEST_F(Evaluate, CopyGroupsShareTheirNumberText) {
    char* const texts[] = {CopyGroup<1>::number_text, CopyGroup<2>::number_text, CopyGroup<3>::number_text,
                           CopyGroup<4>::number_text, CopyGroup<5>::number_text, CopyGroup<6>::number_text,
                           CopyGroup<7>::number_text};
    auto groups_holding = [&](int number) {
        std::string holding;
        for (int g = 0; g < kCopyGroups; ++g) {
            if (std::to_string(number) == texts[g]) holding += std::to_string(g + 1);
        }
        return holding;
    };
    scan_number_in_copy<1>(901); EXPECT_EQ(groups_holding(901), "1");
    scan_number_in_copy<20>(902); EXPECT_EQ(groups_holding(902), "1");
    scan_number_in_copy<21>(903); EXPECT_EQ(groups_holding(903), "2");
    scan_number_in_copy<60>(904); EXPECT_EQ(groups_holding(904), "3");
    scan_number_in_copy<61>(905); EXPECT_EQ(groups_holding(905), "4");
    scan_number_in_copy<100>(906); EXPECT_EQ(groups_holding(906), "5");
    scan_number_in_copy<120>(907); EXPECT_EQ(groups_holding(907), "6");
    scan_number_in_copy<121>(908); EXPECT_EQ(groups_holding(908), "7");
    scan_number_in_copy<150>(909); EXPECT_EQ(groups_holding(909), "7");
}

TEST_F(Evaluate, LoaderChecksFormAndLength) {
    EXPECT_EQ(outcome("1234567+1234567+123456"), value(2469134 + 123456));  // 22 characters
    EXPECT_EQ(outcome("1234567+1234567+1234567"), kTextNotPassed);          // 23
    EXPECT_EQ(outcome("1+2+3"), value(6));                                  // 5
    EXPECT_EQ(outcome("1+23"), kTextNotPassed);                             // 4
    EXPECT_EQ(outcome(" 1+23"), kTextNotPassed);
    EXPECT_EQ(outcome("a1+23"), kTextNotPassed);
    EXPECT_EQ(outcome("#1+23"), kTextNotPassed);
    EXPECT_EQ(outcome("1 + 23"), kTextNotPassed);  // the second character counts too
    EXPECT_EQ(outcome("-1+23"), kOperandExpected);
    EXPECT_EQ(outcome(""), kTextNotPassed);
    EXPECT_EQ(outcome("1"), kTextNotPassed);
    EXPECT_EQ(outcome(nullptr), kTextNotPassed);
    EXPECT_EQ(outcome("1+2+3+4+5+6+7+8+9+10+11+12+13+14+15+16+17+18+19+20"), kTextNotPassed);
}

TEST_F(Evaluate, LongTextIsRejectedWithoutTouchingTheBufferOrReadingOn) {
    ASSERT_EQ(outcome("(7+2)+5"), value(14));
    char before[kExpressionBufferSize];
    std::memcpy(before, expression_buffer, sizeof before);
    // No NUL at all: the loader may look at 23 characters and no further
    // (the sanitizer build watches the bytes behind this array).
    std::array<char, kLongestText + 1> unterminated;
    unterminated.fill('1');
    EXPECT_EQ(outcome(unterminated.data()), kTextNotPassed);
    EXPECT_EQ(std::memcmp(before, expression_buffer, sizeof before), 0);
}

TEST_F(Evaluate, SpacesAfterTokensAreSkipped) {
    EXPECT_EQ(outcome("(7 + 2) * 3"), value(27));
    EXPECT_EQ(outcome("(( 7+2 ) ) *3   "), value(27));
}

TEST_F(Evaluate, ArithmeticWrapsAndDivisionTruncatesTowardZero) {
    constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
    constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
    EXPECT_EQ(outcome("(27/7)"), value(3));
    EXPECT_EQ(outcome("(73/2)"), value(36));
    EXPECT_EQ(outcome("(0-7)/2"), value(-3));
    EXPECT_EQ(outcome("7/(0-2)"), value(-3));
    EXPECT_EQ(outcome("65536*65536"), value(0));
    EXPECT_EQ(outcome("65536*32768"), value(kMin));
    EXPECT_EQ(outcome("0-65536*32768-1"), value(kMax));
    EXPECT_EQ(outcome("9999999*9999999"), value(static_cast<std::int32_t>(9999999u * 9999999u)));
    EXPECT_EQ(outcome("65536*32768/1"), value(kMin));
    EXPECT_EQ(outcome("0123+0"), value(123));
}

TEST_F(Evaluate, DivisionWithoutAValueIsACalculationError) {
    EXPECT_EQ(outcome("7/(3-3)"), kCalculationError);
    EXPECT_EQ(outcome("0/0+1"), kCalculationError);
    EXPECT_EQ(outcome("65536*32768/(0-1)"), kCalculationError);
}

struct Hostile {
    const char* text;
    const char* message;
};

constexpr Hostile kHostileTexts[] = {
    // Brackets that do not pair up.
    {"((2+3)", kOperatorExpected},
    {"((((((((((((((((((((1", kOperatorExpected},
    {"(2+3))+1", kOperatorExpected},
    {"2)+(3+4", kOperatorExpected},
    {"(((((((((((((((((((((", kOperandExpected},
    {"((    ", kOperandExpected},
    // Operators where an operand is due, or at the end.
    {"12+3*  ", kOperandExpected},
    {"(2+3)-", kOperandExpected},
    {")1+23", kOperandExpected},
    {"*1+23", kOperandExpected},
    {"1++23", kOperandExpected},
    // Operands where an operator is due, and no operator at all.
    {"2+3 4", kOperatorExpected},
    {"2+3(4)", kOperatorExpected},
    {"(1+2)(3+4)", kOperatorExpected},
    {"12345", kOperatorExpected},
    {"((12345))", kOperatorExpected},
    // Numbers the evaluator cannot hold.
    {"12345678+1", kOperandExpected},
    {"1+12345678", kOperandExpected},
    {"1.5+2.5", kOperandExpected},
    {"1+23.", kOperandExpected},
    // Characters the scanner does not know.
    {"2+3#4", kOperatorExpected},
    {"2+#+4", kOperandExpected},
    {"2+x+3", kOperandExpected},
    {"1+23\x80", kOperatorExpected},
    {"1+23\t", kOperatorExpected},
    // More than five nodes, more than seven waiting operands.
    {"1+1+1+1+1+1+1", kTextNotPassed},
    {"1*1*1*1*1*1*1", kTextNotPassed},
    {"1-2*3/4+5-6*7", kTextNotPassed},
    {"1+(2+(3+(4+(5+(6+(7+(8", kTextNotPassed},
};

TEST_F(Evaluate, HostileTextsAreReportedWithTheFittingMessage) {
    for (const Hostile& h : kHostileTexts) {
        EXPECT_EQ(outcome<11>(h.text), h.message) << '"' << h.text << '"';
        EXPECT_EQ(outcome<11>(h.text, 0), h.message) << '"' << h.text << "\" without evaluation";
    }
}

TEST_F(Evaluate, CapacitiesAreUsedToTheFull) {
    EXPECT_EQ(outcome("1*2*3*4*5*6"), value(720));  // five nodes
    EXPECT_EQ(outcome("1+(2+(3+(4+(5+6)))))"), kOperatorExpected);  // one bracket too many
    EXPECT_EQ(outcome("1+(2+(3+(4+(5+6))))"), value(21));  // six operands and five operators waiting
    EXPECT_EQ(outcome("(((((((((1+2)))))))))"), value(3));
}

// An independent reading of the grammar with the usual precedence. Plus and
// minus both wrap, so grouping them differently gives the same 32-bit value;
// the reference therefore agrees with the evaluator wherever both succeed.
class Reference {
public:
    explicit Reference(const char* text) : at_(text) {}
    bool evaluate(std::int32_t& result) {
        ok_ = true;
        result = sum();
        skip();
        return ok_ && *at_ == '\0';
    }

private:
    void skip() {
        while (*at_ == ' ') ++at_;
    }
    std::int32_t sum() {
        std::uint32_t v = static_cast<std::uint32_t>(product());
        for (skip(); *at_ == '+' || *at_ == '-'; skip()) {
            const char op = *at_++;
            const auto r = static_cast<std::uint32_t>(product());
            v = op == '+' ? v + r : v - r;
        }
        return static_cast<std::int32_t>(v);
    }
    std::int32_t product() {
        std::int32_t v = factor();
        for (skip(); *at_ == '*' || *at_ == '/'; skip()) {
            const char op = *at_++;
            const std::int32_t r = factor();
            if (op == '*') {
                v = static_cast<std::int32_t>(static_cast<std::uint32_t>(v) * static_cast<std::uint32_t>(r));
            } else if (r == 0 || (r == -1 && v == std::numeric_limits<std::int32_t>::min())) {
                ok_ = false;
            } else {
                v /= r;
            }
        }
        return v;
    }
    std::int32_t factor() {
        skip();
        if (*at_ == '(') {
            ++at_;
            const std::int32_t v = sum();
            skip();
            if (*at_ != ')') ok_ = false;
            else ++at_;
            return v;
        }
        if (*at_ < '0' || *at_ > '9') {
            ok_ = false;
            return 0;
        }
        std::uint32_t v = 0;
        while (*at_ >= '0' && *at_ <= '9') v = v * 10 + static_cast<std::uint32_t>(*at_++ - '0');
        return static_cast<std::int32_t>(v);
    }
    const char* at_;
    bool ok_ = true;
};

// Random texts of up to 40 characters: half of them any characters, half
// built as expressions and then damaged a little, so that a fair share gets
// past the loader into the builder and the evaluator.
std::string random_text(std::mt19937& random) {
    static const char kCharacters[] = "0123456789+-*/() .,#a\x80\xff\t";
    static const char kOperators[] = "+-*/";
    static const char* const kNumbers[] = {"0", "1", "2", "7", "42", "9999999", "65536", "12345678", "2.5"};
    auto below = [&](std::size_t n) { return static_cast<std::size_t>(random() % n); };
    auto any_character = [&] { return kCharacters[below(sizeof kCharacters - 1)]; };
    std::string text;
    if (random() % 2 == 0) {
        const std::size_t length = below(41);
        while (text.size() < length) text += any_character();
        return text;
    }
    const std::size_t operands = 1 + below(8);
    int open = 0;
    for (std::size_t i = 0; i < operands; ++i) {
        if (i > 0) text += kOperators[below(4)];
        while (below(4) == 0) {
            text += '(';
            ++open;
        }
        text += kNumbers[below(std::size(kNumbers))];
        while (open > 0 && below(3) == 0) {
            text += ')';
            --open;
        }
        if (below(8) == 0) text += ' ';
    }
    while (open-- > 0) text += ')';
    for (std::size_t damage = below(4); damage-- > 0 && !text.empty();) {
        const std::size_t at = below(text.size());
        switch (below(3)) {
            case 0: text.erase(at, 1); break;
            case 1: text.insert(at, 1, any_character()); break;
            default: text[at] = any_character(); break;
        }
    }
    if (text.size() > 40) text.resize(40);
    return text;
}

TEST_F(Evaluate, RandomTextsEvaluateOrReportAModuleMessage) {
    const std::string messages[] = {kTextNotPassed, kOperandExpected, kOperatorExpected, kCalculationError};
    int reports[std::size(messages)] = {};
    int evaluated = 0;
    std::mt19937 random(20240607);
    for (int i = 0; i < 1'000'000; ++i) {
        const std::string text = random_text(random);
        try {
            const std::int32_t result = Evaluator<150>::parse_and_evaluate(text.c_str(), 1);
            ++evaluated;
            std::int32_t expected = 0;
            ASSERT_TRUE(Reference(text.c_str()).evaluate(expected)) << '"' << text << '"';
            ASSERT_EQ(result, expected) << '"' << text << '"';
        } catch (const Reported& report) {
            const auto* known = std::find(std::begin(messages), std::end(messages), report.message);
            ASSERT_NE(known, std::end(messages)) << '"' << text << "\": " << report.message;
            ++reports[known - std::begin(messages)];
        }
    }
    // The generator must reach every check, not just the loader's.
    EXPECT_GT(evaluated, 20'000);
    for (std::size_t m = 0; m < std::size(messages); ++m) EXPECT_GT(reports[m], 1000) << messages[m];
}

// ---- The real error path -----------------------------------------------

void evaluate_in_copy_1(const char* text) {
    route_errors_to(nullptr);
    Evaluator<1>::parse_and_evaluate(text, 1);
    std::exit(0);
}

using EvaluateDeathTest = DeathTestOf<>;

TEST_F(EvaluateDeathTest, FaultsEndTheProcessWithTheMessage) {
    EXPECT_EXIT(evaluate_in_copy_1("1234567+1234567+1234567"), testing::ExitedWithCode(255),
                "String for parsing not properly passed\\.");
    EXPECT_EXIT(evaluate_in_copy_1("-1+23"), testing::ExitedWithCode(255), "Error - operand expected\\.");
    EXPECT_EXIT(evaluate_in_copy_1("12 3+4"), testing::ExitedWithCode(255), "Error - operator expected\\.");
    EXPECT_EXIT(evaluate_in_copy_1("7/(3-3)"), testing::ExitedWithCode(255), "Error in parser result calculation\\.");
    EXPECT_EXIT(evaluate_in_copy_1("1+(2+(3+(4+(5+(6+(7+(8"), testing::ExitedWithCode(255),
                "String for parsing not properly passed\\.");
}

// ---- The parse step -----------------------------------------------------

class ParseStep : public testing::Test {
protected:
    void SetUp() override {
        route_errors_to(nullptr);
        ASSERT_EQ(setup_workload(), 0);
        parse_phase = 0;
        parse_cursor = 0;
    }
    void TearDown() override { db_release(); }

    static void set_record(std::int32_t r, const char* expression, std::int32_t amount) {
        std::strcpy(long_records[r].expression, expression);
        long_records[r].amount = amount;
    }
};

template <std::size_t... Index>
std::array<std::int32_t*, kEvaluatorCopies> list_node_counts(std::index_sequence<Index...>) {
    return {&Evaluator<static_cast<int>(Index) + 1>::node_count...};
}

TEST_F(ParseStep, SweepsOfAWorkUnitUseTheFirstNCopies) {
    const auto node_counts = list_node_counts(std::make_index_sequence<kEvaluatorCopies>{});
    const int lengths[] = {9, 11, 13, 15, 17, 19, 21, 23, 25, 29, 33, 37, 53, 73, 150};
    int calls = 0;
    for (int step = 0; step < kParseStepsPerUnit; ++step) {
        for (std::int32_t* count : node_counts) *count = -1;
        parse_step();
        int used = 0;
        while (used < kEvaluatorCopies && *node_counts[static_cast<std::size_t>(used)] != -1) ++used;
        EXPECT_EQ(used, lengths[step % kSweepPhases]) << "call " << step + 1;
        for (int c = used; c < kEvaluatorCopies; ++c) {
            EXPECT_EQ(*node_counts[static_cast<std::size_t>(c)], -1) << "copy " << c + 1 << " in call " << step + 1;
        }
        calls += used;
    }
    EXPECT_EQ(calls, 833);
    EXPECT_EQ(parse_cursor, 861 % 699);
    EXPECT_EQ(parse_phase, 13);
}

TEST_F(ParseStep, CursorWrapsAfterRecord698AndNeverReadsRecord699) {
    set_record(699, "not an expression", 900);  // would end the process if it were read
    set_record(698, "(0-20)+1", 900);
    parse_cursor = 690;  // a sweep of nine reads 690 to 698
    EXPECT_EQ(parse_step(), -19);
    EXPECT_EQ(parse_cursor, 1);  // wrapped after 698, then one skipped

    set_record(698, "not an expression", 900);
    set_record(697, "(0-20)+2", 900);
    parse_phase = 0;
    parse_cursor = 689;  // reads 689 to 697; the skip passes over 698
    EXPECT_EQ(parse_step(), -18);
    EXPECT_EQ(parse_cursor, 0);
}

TEST_F(ParseStep, OnlyAmountsAbove500AreEvaluatedAndOnlyTheLastIsChecked) {
    set_record(0, "21600+1", 900);  // first of the sweep: never checked
    set_record(8, "21600+1", 500);
    EXPECT_EQ(parse_step(), 1);
    EXPECT_EQ(parse_cursor, 10);
    parse_phase = 0;
    parse_cursor = 0;
    set_record(8, "(2+3)*(4-2-1-5)", 501);
    EXPECT_EQ(parse_step(), -20);
    parse_phase = 0;
    parse_cursor = 0;
    set_record(8, "21600+0", 900);
    EXPECT_EQ(parse_step(), 21600);
}

void sweep_ending_with(const char* expression) {
    std::strcpy(long_records[8].expression, expression);
    long_records[8].amount = 900;
    parse_step();
    std::exit(0);
}

using ParseStepDeathTest = DeathTestOf<ParseStep>;

TEST_F(ParseStepDeathTest, ResultsOutsideTheRangeEndTheProcess) {
    EXPECT_EXIT(sweep_ending_with("(0-21)"), testing::ExitedWithCode(255), "Arithmetic evaluation error\\.");
    EXPECT_EXIT(sweep_ending_with("21600+1"), testing::ExitedWithCode(255), "Arithmetic evaluation error\\.");
}

}  // namespace
