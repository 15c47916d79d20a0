#include "modules/parse/evaluator.h"

#include <cstdint>
#include <cstring>
#include <limits>

#include "workload/replicas.h"
#include "workload/report_error.h"
#include "workload/wrapping.h"

char expression_buffer[kExpressionBufferSize];
const char* scan_position;
ParseState parse_state;

namespace {

inline bool is_digit(char ch) { return ch >= '0' && ch <= '9'; }

// The loader accepts only texts that begin with two characters of this
// range: brackets, operators, ",", "." and digits.
inline bool opens_expression(char ch) { return ch >= '(' && ch <= '9'; }

}  // namespace

std::int32_t decimal_text_value(const char* text) {
    std::int32_t value = 0;
    for (; *text != '\0'; ++text) value = wrapping_add(wrapping_multiply(value, 10), *text - '0');
    return value;
}

template <int Group>
char CopyGroup<Group>::number_text[kNumberTextSize];

template <int Copy>
ParseItem Evaluator<Copy>::token_record;
template <int Copy>
ParseItem Evaluator<Copy>::operand_stack[kStackCapacity];
template <int Copy>
ParseItem Evaluator<Copy>::operator_stack[kStackCapacity];
template <int Copy>
TreeNode Evaluator<Copy>::node_table[kNodeCapacity];
template <int Copy>
std::int32_t Evaluator<Copy>::operand_depth;
template <int Copy>
std::int32_t Evaluator<Copy>::operator_depth;
template <int Copy>
std::int32_t Evaluator<Copy>::node_count;
template <int Copy>
ParseItem Evaluator<Copy>::right_scratch;
template <int Copy>
ParseItem Evaluator<Copy>::left_scratch;
template <int Copy>
ParseItem Evaluator<Copy>::operator_scratch;

template <int Copy>
std::int32_t Evaluator<Copy>::parse_and_evaluate(const char* text, std::int32_t evaluate) {
    load_expression_text(text);
    const std::int32_t built = build_expression_tree(parse_state);
    // The builder leaves at least one node behind whenever it returns 1, so
    // the root index lies inside the node table.
    if (evaluate != 0 && built != -1) return evaluate_tree_node(node_count - 1);
    return built;
}

template <int Copy>
void Evaluator<Copy>::load_expression_text(const char* text) {
    if (text == nullptr) report_error(kTextNotPassed);
    // Measured before anything is copied, and never further than one
    // character past the longest text accepted, so a long text can neither
    // overrun the buffer nor make the loader read far beyond it. A text whose
    // first character is the NUL fails the first check before the second
    // character is looked at.
    const std::size_t length = strnlen(text, kLongestText + 1);
    if (!opens_expression(text[0]) || !opens_expression(text[1]) || length < kShortestText ||
        length > kLongestText) {
        report_error(kTextNotPassed);
    }
    std::memcpy(expression_buffer, text, length + 1);
}

template <int Copy>
std::int32_t Evaluator<Copy>::read_token() {
    const char ch = *scan_position;
    if (is_digit(ch)) {
        // A number runs over digits and "."; the group's number text holds
        // seven characters. A longer run, or one with a "." (the arithmetic
        // is integer only), is no number this evaluator can take.
        const char* const start = scan_position;
        while (is_digit(*scan_position) || *scan_position == '.') ++scan_position;
        const auto length = static_cast<std::size_t>(scan_position - start);
        if (length > kNumberTextSize - 1 || std::memchr(start, '.', length) != nullptr) {
            token_record.kind = kUnknownToken;
            return token_record.kind;
        }
        std::memcpy(Group::number_text, start, length);
        Group::number_text[length] = '\0';
        token_record.kind = kNumber;
        token_record.priority = kNumberPriority;
        token_record.value = decimal_text_value(Group::number_text);
    } else {
        switch (ch) {
            case '+': token_record.kind = kPlus; token_record.priority = kPlusPriority; break;
            case '-': token_record.kind = kMinus; token_record.priority = kMinusPriority; break;
            case '*': token_record.kind = kTimes; token_record.priority = kProductPriority; break;
            case '/': token_record.kind = kDivide; token_record.priority = kProductPriority; break;
            case '(': token_record.kind = kOpenBracket; token_record.priority = kBracketPriority; break;
            case ')': token_record.kind = kCloseBracket; token_record.priority = kBracketPriority; break;
            default:
                // An unknown character, or the end of the text. Left as it
                // was, the token record would repeat the previous token for
                // ever without the scan moving on; the builder reports it
                // with the message that fits where it stands.
                token_record.kind = kUnknownToken;
                return token_record.kind;
        }
        ++scan_position;
    }
    while (*scan_position == ' ') ++scan_position;
    return token_record.kind;
}

template <int Copy>
void Evaluator<Copy>::pop_operator(ParseItem& item) {
    const ParseItem& top = operator_stack[--operator_depth];
    item.kind = top.kind;
    item.value = top.value;
    item.priority = top.priority;
}

template <int Copy>
void Evaluator<Copy>::add_tree_node(const ParseItem& op, const ParseItem& left, const ParseItem& right) {
    // Six operators make six nodes; the table holds five.
    if (node_count == kNodeCapacity) report_error(kTextNotPassed);
    TreeNode& node = node_table[node_count];
    node.op.kind = op.kind;
    node.op.priority = op.priority;
    node.op.value = op.value;
    node.left.kind = left.kind;
    node.left.link = left.link;
    node.left.value = left.value;
    node.right.kind = right.kind;
    node.right.link = right.link;
    node.right.value = right.value;
    ++node_count;
}

// Operator precedence with an operand stack and an operator stack. Brackets
// never enter a stack: each open bracket raises the priority of the operators
// inside it by 100, so they are reduced before anything outside.
//
// The grammar is enforced token by token (open brackets and a number where an
// operand is due; close brackets and an operator, or the end, where an
// operator is due), so the operand stack always holds one item more than the
// operator stack when the reduction runs, and a reduction always finds its
// two operands.
//
// Faults, each reported before any storage could be overrun or a tree without
// a root handed on:
// - a token that is no operand where one is due, including the end of the
//   text after an operator (a trailing operator) and unknown characters,
//   numbers of more than seven characters and numbers with a ".":
//   "Error - operand expected.";
// - a token that is no operator where one is due (a number or an open
//   bracket after an operand, unknown characters, bad numbers), a close
//   bracket without an open one before it, a bracket left open at the end,
//   and a text without any operator: "Error - operator expected.";
// - more than seven waiting operands or operators, or more than five tree
//   nodes (five operators): "String for parsing not properly passed.", the
//   loader's message for texts this evaluator is not made to take.
template <int Copy>
std::int32_t Evaluator<Copy>::build_expression_tree(ParseState& state) {
    scan_position = expression_buffer;
    node_count = 0;
    operator_depth = 0;
    operand_depth = 0;
    state.bracket_bias = 0;
    state.last_kind = kPlus;

    auto push_operand = [](std::int32_t kind, std::int32_t link, std::int32_t value) {
        if (operand_depth == kStackCapacity) report_error(kTextNotPassed);
        ParseItem& slot = operand_stack[operand_depth++];
        slot.kind = kind;
        slot.link = link;
        slot.value = value;
    };
    auto pop_operand = [](ParseItem& item) {
        const ParseItem& top = operand_stack[--operand_depth];
        item.kind = top.kind;
        item.link = top.link;
        item.value = top.value;
    };

    for (;;) {
        state.last_kind = read_token();
        while (state.last_kind == kOpenBracket) {
            state.bracket_bias += kBracketStep;
            state.last_kind = read_token();
        }
        if (state.last_kind < kNumber) report_error(kOperandExpected);
        push_operand(token_record.kind, token_record.link, token_record.value);

        bool at_end = false;
        for (;;) {
            if (*scan_position == '\0') {
                at_end = true;
                state.current_priority = 0;
                break;
            }
            state.last_kind = read_token();
            if (state.last_kind != kCloseBracket) break;
            if (state.bracket_bias == 0) report_error(kOperatorExpected);
            state.bracket_bias -= kBracketStep;
        }
        if (!at_end) {
            if (state.last_kind < kPlus || state.last_kind > kDivide) report_error(kOperatorExpected);
            token_record.priority += state.bracket_bias;
            state.current_priority = token_record.priority;
        }

        while (operator_depth > 0 && operator_stack[operator_depth - 1].priority >= state.current_priority) {
            pop_operand(right_scratch);
            pop_operand(left_scratch);
            pop_operator(operator_scratch);
            add_tree_node(operator_scratch, left_scratch, right_scratch);
            push_operand(kSubtree, node_count - 1, operator_scratch.value);
        }

        if (at_end) {
            if (state.bracket_bias != 0) report_error(kOperatorExpected);
            if (node_count == 0) report_error(kOperatorExpected);
            return 1;
        }
        if (*scan_position == '\0') report_error(kOperandExpected);
        if (operator_depth == kStackCapacity) report_error(kTextNotPassed);
        ParseItem& slot = operator_stack[operator_depth++];
        slot.kind = token_record.kind;
        slot.priority = token_record.priority;
        slot.value = token_record.value;
    }
}

template <int Copy>
std::int32_t Evaluator<Copy>::evaluate_tree_node(std::int32_t index) {
    // Links always name an earlier node, so the recursion ends within the
    // node count; the bounds check keeps any index inside the table.
    if (index < 0 || index >= node_count) report_error(kCalculationError);
    const TreeNode& node = node_table[index];
    const std::int32_t left = node.left.kind == kSubtree ? evaluate_tree_node(node.left.link) : node.left.value;
    const std::int32_t right = node.right.kind == kSubtree ? evaluate_tree_node(node.right.link) : node.right.value;
    switch (node.op.kind) {
        case kPlus: return wrapping_add(left, right);
        case kMinus: return wrapping_subtract(left, right);
        case kTimes: return wrapping_multiply(left, right);
        case kDivide:
            // A zero divisor, and the one quotient that does not fit in 32
            // bits, have no value; both are calculation errors.
            if (right == 0 || (left == std::numeric_limits<std::int32_t>::min() && right == -1)) {
                report_error(kCalculationError);
            }
            return left / right;  // truncates toward zero: 27/7 is 3
        default: report_error(kCalculationError);
    }
}

// Each copy its own code and storage: the seven groups' shared storage, then
// the 150 evaluators.
#define PT_COPY_GROUP(n) template struct CopyGroup<n>;
#define PT_EVALUATOR(n) template struct Evaluator<n>;

PT_COPY_GROUP(1) PT_COPY_GROUP(2) PT_COPY_GROUP(3) PT_COPY_GROUP(4) PT_COPY_GROUP(5) PT_COPY_GROUP(6) PT_COPY_GROUP(7)

PT_TEN_COPIES(PT_EVALUATOR, 1)
PT_TEN_COPIES(PT_EVALUATOR, 11)
PT_TEN_COPIES(PT_EVALUATOR, 21)
PT_TEN_COPIES(PT_EVALUATOR, 31)
PT_TEN_COPIES(PT_EVALUATOR, 41)
PT_TEN_COPIES(PT_EVALUATOR, 51)
PT_TEN_COPIES(PT_EVALUATOR, 61)
PT_TEN_COPIES(PT_EVALUATOR, 71)
PT_TEN_COPIES(PT_EVALUATOR, 81)
PT_TEN_COPIES(PT_EVALUATOR, 91)
PT_TEN_COPIES(PT_EVALUATOR, 101)
PT_TEN_COPIES(PT_EVALUATOR, 111)
PT_TEN_COPIES(PT_EVALUATOR, 121)
PT_TEN_COPIES(PT_EVALUATOR, 131)
PT_TEN_COPIES(PT_EVALUATOR, 141)

#undef PT_EVALUATOR
#undef PT_COPY_GROUP
