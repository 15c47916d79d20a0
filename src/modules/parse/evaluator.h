// The expression evaluator: scanner, operator-precedence tree builder and
// recursive evaluator. It exists as many copies, each its own code bound to
// its own working storage; the parse step spreads its calls over them.
#pragma once

#include <cstdint>

// The one record type of the evaluator. An operator carries its kind and
// priority; a number operand its value; a subtree operand the index of its
// tree node in link.
struct ParseItem {
    std::int32_t kind;
    std::int32_t priority;
    std::int32_t link;
    std::int32_t value;
};

// Token and operand kinds.
inline constexpr std::int32_t kUnknownToken = 0;  // nothing the scanner can make a token of, or the end
inline constexpr std::int32_t kPlus = 1;
inline constexpr std::int32_t kMinus = 2;
inline constexpr std::int32_t kTimes = 3;
inline constexpr std::int32_t kDivide = 4;
inline constexpr std::int32_t kOpenBracket = 5;
inline constexpr std::int32_t kCloseBracket = 6;
inline constexpr std::int32_t kSubtree = 20;
inline constexpr std::int32_t kNumber = 30;

// Base priorities set by the scanner. Minus binds tighter than plus.
inline constexpr std::int32_t kPlusPriority = 1;
inline constexpr std::int32_t kMinusPriority = 5;
inline constexpr std::int32_t kProductPriority = 10;
inline constexpr std::int32_t kBracketPriority = 100;
inline constexpr std::int32_t kNumberPriority = 1000;

// Every open bracket raises the priority of the operators inside it by this.
inline constexpr std::int32_t kBracketStep = 100;

struct TreeNode {
    ParseItem op;
    ParseItem left;
    ParseItem right;
};

inline constexpr int kStackCapacity = 7;
inline constexpr int kNodeCapacity = 5;
inline constexpr int kExpressionBufferSize = 24;
inline constexpr int kShortestText = 5;
inline constexpr int kLongestText = 22;
inline constexpr int kNumberTextSize = 8;  // seven characters and the NUL

// The module's messages.
inline constexpr const char* kTextNotPassed = "String for parsing not properly passed.";
inline constexpr const char* kOperandExpected = "Error - operand expected.";
inline constexpr const char* kOperatorExpected = "Error - operator expected.";
inline constexpr const char* kCalculationError = "Error in parser result calculation.";

struct ParseState {
    std::int32_t last_kind;         // kind of the token just read
    std::int32_t current_priority;  // what pending operators are reduced against
    std::int32_t bracket_bias;      // +100 per open bracket, -100 per close bracket
};

// Shared by all copies, so no two evaluator calls may overlap.
extern char expression_buffer[kExpressionBufferSize];
extern const char* scan_position;
extern ParseState parse_state;

// The integer value of a run of digit characters, in 32-bit wrapping
// arithmetic. One copy serves every evaluator.
std::int32_t decimal_text_value(const char* text);

// Copies 1 to 20, 21 to 40, ... 101 to 120 form groups of twenty and 121 to
// 150 the last group of thirty; the copies of a group share a number text.
inline constexpr int kEvaluatorCopies = 150;
inline constexpr int kCopyGroups = 7;

constexpr int copy_group_of(int copy) { return copy <= 120 ? (copy - 1) / 20 + 1 : 7; }

template <int Group>
struct CopyGroup {
    static char number_text[kNumberTextSize];
};

// One evaluator copy. Copy runs from 1 to kEvaluatorCopies; every copy is
// instantiated explicitly with its own storage.
template <int Copy>
struct Evaluator {
    static_assert(Copy >= 1 && Copy <= kEvaluatorCopies);
    using Group = CopyGroup<copy_group_of(Copy)>;

    static ParseItem token_record;
    static ParseItem operand_stack[kStackCapacity];
    static ParseItem operator_stack[kStackCapacity];
    static TreeNode node_table[kNodeCapacity];
    static std::int32_t operand_depth;
    static std::int32_t operator_depth;
    static std::int32_t node_count;
    static ParseItem right_scratch;
    static ParseItem left_scratch;
    static ParseItem operator_scratch;

    // Builds the tree of text and, when evaluate is non-zero, returns the
    // value of its root; otherwise returns 1. Every fault ends the process
    // through report_error.
    static std::int32_t parse_and_evaluate(const char* text, std::int32_t evaluate);
    static void load_expression_text(const char* text);
    static std::int32_t build_expression_tree(ParseState& state);
    static std::int32_t read_token();
    static void pop_operator(ParseItem& item);
    static void add_tree_node(const ParseItem& op, const ParseItem& left, const ParseItem& right);
    static std::int32_t evaluate_tree_node(std::int32_t index);
};
