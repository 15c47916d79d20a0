#include "modules/library/formatter.h"

const char digits_lower[] = "0123456789abcdef";
const char digits_upper[] = "0123456789ABCDEF";
const char null_text[] = "(null)";

namespace {

// Flags of one conversion.
constexpr std::uint32_t kAlternateForm = 1u << 0;
constexpr std::uint32_t kHexPrefix = 1u << 1;
constexpr std::uint32_t kLeftAdjust = 1u << 2;
constexpr std::uint32_t kLongArgument = 1u << 3;
constexpr std::uint32_t kShortArgument = 1u << 4;
constexpr std::uint32_t kZeroPadding = 1u << 5;

// Eleven octal digits for 32 bits, and one more for the alternate form's 0.
constexpr int kScratchSize = 12;

constexpr char kNoSign = '\0';

// Widths and precisions wrap as the 32-bit values they are; reading a
// number never overflows.
inline std::int32_t read_decimal(const char*& at) {
    std::uint32_t value = 0;
    while (*at >= '0' && *at <= '9') {
        value = value * 10u + static_cast<std::uint32_t>(*at - '0');
        ++at;
    }
    return static_cast<std::int32_t>(value);
}

inline std::uint32_t negated(std::uint32_t value) { return 0u - value; }

}  // namespace

template <int Copy>
const char FormatterCopy<Copy>::space_block[kPaddingBlockSize] = {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
                                                                  ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};

template <int Copy>
const char FormatterCopy<Copy>::zero_block[kPaddingBlockSize] = {'0', '0', '0', '0', '0', '0', '0', '0',
                                                                 '0', '0', '0', '0', '0', '0', '0', '0'};

template <int Copy>
std::int32_t FormatterCopy<Copy>::format_to_buffer(char* buffer, std::int32_t capacity, const char* format, ...) {
    FormatDestination destination{buffer, capacity < 0 ? 0 : capacity, 0};
    va_list arguments;
    va_start(arguments, format);
    const std::int32_t produced = format_engine(&destination, format, arguments);
    va_end(arguments);
    *destination.position = '\0';
    return produced;
}

template <int Copy>
std::int32_t FormatterCopy<Copy>::format_engine(FormatDestination* destination, const char* format,
                                                va_list arguments) {
    SegmentList list;
    list.count = 0;
    list.bytes = 0;
    // The count wraps rather than overflows when widths near 2^31 add up.
    std::uint32_t produced = 0;
    char scratch[kScratchSize];
    char* const scratch_end = scratch + kScratchSize;
    const char* at = format;

    for (;;) {
        const char* const run = at;
        while (*at != '\0' && *at != '%') ++at;
        if (at != run) {
            const auto length = static_cast<std::int32_t>(at - run);
            add_segment(destination, &list, run, length);
            produced += static_cast<std::uint32_t>(length);
        }
        if (*at == '\0') break;
        ++at;

        std::uint32_t flags = 0;
        std::int32_t width = 0;
        std::int32_t precision = -1;
        char sign = kNoSign;
        const char* digit_table = digits_lower;
        bool is_number = false;
        std::uint32_t value = 0;
        std::uint32_t base = 10;
        const char* text = nullptr;
        std::int32_t size = 0;
        bool format_ended = false;
        bool stored_count = false;
        char conversion = '\0';

        for (bool reading = true; reading;) {
            conversion = *at++;
            switch (conversion) {
                case ' ':
                    // A '+' anywhere in the flags wins over a space.
                    if (sign == kNoSign) sign = ' ';
                    break;
                case '#':
                    flags |= kAlternateForm;
                    break;
                case '*':
                    width = va_arg(arguments, std::int32_t);
                    if (width < 0) {
                        flags |= kLeftAdjust;
                        width = static_cast<std::int32_t>(negated(static_cast<std::uint32_t>(width)));
                    }
                    break;
                case '-':
                    flags |= kLeftAdjust;
                    break;
                case '+':
                    sign = '+';
                    break;
                case '.':
                    if (*at == '*') {
                        ++at;
                        precision = va_arg(arguments, std::int32_t);
                    } else {
                        precision = read_decimal(at);
                    }
                    if (precision < 0) precision = -1;
                    break;
                case '0':
                    flags |= kZeroPadding;
                    break;
                case '1':
                case '2':
                case '3':
                case '4':
                case '5':
                case '6':
                case '7':
                case '8':
                case '9':
                    --at;
                    width = read_decimal(at);
                    break;
                case 'h':
                    flags |= kShortArgument;
                    break;
                case 'l':
                    flags |= kLongArgument;
                    break;
                case 'D':
                case 'd':
                case 'i': {
                    if (conversion == 'D') flags |= kLongArgument;
                    std::int32_t argument = va_arg(arguments, std::int32_t);
                    if ((flags & (kShortArgument | kLongArgument)) == kShortArgument) {
                        argument = static_cast<std::int16_t>(static_cast<std::uint16_t>(argument));
                    }
                    value = static_cast<std::uint32_t>(argument);
                    if (argument < 0) {
                        sign = '-';
                        value = negated(value);
                    }
                    is_number = true;
                    reading = false;
                    break;
                }
                case 'O':
                case 'o':
                case 'U':
                case 'u':
                case 'x':
                case 'X':
                    if (conversion == 'O' || conversion == 'U') flags |= kLongArgument;
                    // Unsigned whatever `h` says.
                    value = static_cast<std::uint32_t>(va_arg(arguments, std::int32_t));
                    if (conversion == 'o' || conversion == 'O') {
                        base = 8;
                    } else if (conversion == 'u' || conversion == 'U') {
                        base = 10;
                    } else {
                        base = 16;
                        if (conversion == 'X') digit_table = digits_upper;
                    }
                    sign = kNoSign;
                    is_number = true;
                    reading = false;
                    break;
                case 'p':
                    value = static_cast<std::uint32_t>(va_arg(arguments, std::int32_t));
                    base = 16;
                    flags |= kHexPrefix;
                    conversion = 'x';
                    sign = kNoSign;
                    is_number = true;
                    reading = false;
                    break;
                case 'c':
                    scratch[0] = static_cast<char>(va_arg(arguments, std::int32_t));
                    text = scratch;
                    size = 1;
                    sign = kNoSign;
                    reading = false;
                    break;
                case 's':
                    text = va_arg(arguments, const char*);
                    if (text == nullptr) text = null_text;
                    if (precision >= 0) {
                        const char* const nul = find_byte(text, '\0', precision);
                        size = nul != nullptr ? static_cast<std::int32_t>(nul - text) : precision;
                    } else {
                        size = text_length(text);
                    }
                    sign = kNoSign;
                    reading = false;
                    break;
                case 'n':
                    if ((flags & (kShortArgument | kLongArgument)) == kShortArgument) {
                        *va_arg(arguments, std::int16_t*) = static_cast<std::int16_t>(produced);
                    } else {
                        *va_arg(arguments, std::int32_t*) = static_cast<std::int32_t>(produced);
                    }
                    stored_count = true;
                    reading = false;
                    break;
                case '\0':
                    format_ended = true;
                    reading = false;
                    break;
                default:
                    // Printed as it stands, so %% gives '%'; a sign makes no
                    // sense in front of it.
                    scratch[0] = conversion;
                    text = scratch;
                    size = 1;
                    sign = kNoSign;
                    reading = false;
                    break;
            }
        }
        if (format_ended) break;
        if (stored_count) continue;

        std::int32_t number_precision = 0;
        if (is_number) {
            if (precision >= 0) flags &= ~kZeroPadding;
            if (value != 0 || precision != 0) {
                text = unsigned_to_digits(value, scratch_end, base, (flags & kAlternateForm) != 0, digit_table);
                size = static_cast<std::int32_t>(scratch_end - text);
            } else {
                text = scratch_end;
                size = 0;
            }
            number_precision = precision;
        }

        // The sign or prefix counts against the precision as well as the width.
        const char prefix[2] = {'0', conversion};
        std::int32_t field_size = size;
        if (sign != kNoSign) {
            field_size += 1;
        } else if ((flags & kHexPrefix) != 0) {
            field_size += 2;
        }
        const std::int32_t real_size = number_precision > field_size ? number_precision : field_size;
        const std::int64_t spare = static_cast<std::int64_t>(width) - real_size;
        const bool left_adjust = (flags & kLeftAdjust) != 0;
        const bool zero_padding = (flags & kZeroPadding) != 0;

        if (!left_adjust && !zero_padding) add_padding(destination, &list, space_block, spare);
        if (sign != kNoSign) {
            add_segment(destination, &list, &sign, 1);
        } else if ((flags & kHexPrefix) != 0) {
            add_segment(destination, &list, prefix, 2);
        }
        if (zero_padding && !left_adjust) add_padding(destination, &list, zero_block, spare);
        add_padding(destination, &list, zero_block, static_cast<std::int64_t>(number_precision) - field_size);
        if (size > 0) add_segment(destination, &list, text, size);
        if (left_adjust) add_padding(destination, &list, space_block, spare);

        produced += static_cast<std::uint32_t>(width > real_size ? width : real_size);
        // sign, prefix and scratch belong to this conversion: nothing may
        // point at them once the next one starts.
        if (list.bytes != 0) flush_segments(destination, &list);
    }

    if (list.bytes != 0) flush_segments(destination, &list);
    return destination->error != 0 ? -1 : static_cast<std::int32_t>(produced);
}

template <int Copy>
char* FormatterCopy<Copy>::unsigned_to_digits(std::uint32_t value, char* end, std::uint32_t base,
                                              bool alternate_form, const char* digit_table) {
    char* at = end;
    switch (base) {
        case 8:
            do {
                *--at = digit_table[value & 7u];
                value >>= 3;
            } while (value != 0);
            if (alternate_form && *at != '0') *--at = '0';
            break;
        case 10:
            if (value < 10) {
                *--at = digit_table[value];
                break;
            }
            do {
                *--at = digit_table[value % 10u];
                value /= 10u;
            } while (value != 0);
            break;
        default:
            do {
                *--at = digit_table[value & 15u];
                value >>= 4;
            } while (value != 0);
            break;
    }
    return at;
}

template <int Copy>
std::int32_t FormatterCopy<Copy>::flush_segments(FormatDestination* destination, SegmentList* list) {
    std::int32_t failed = 0;
    if (list->bytes != 0) failed = append_to_destination(destination, list);
    list->count = 0;
    list->bytes = 0;
    return failed;
}

template <int Copy>
std::int32_t FormatterCopy<Copy>::append_to_destination(FormatDestination* destination, const SegmentList* list) {
    for (std::int32_t i = 0; i < list->count; ++i) {
        const Segment& segment = list->segments[i];
        // What does not fit is dropped; the count produced still includes it.
        const std::int32_t copied = segment.length < destination->capacity ? segment.length : destination->capacity;
        for (std::int32_t b = 0; b < copied; ++b) destination->position[b] = segment.bytes[b];
        destination->position += copied;
        destination->capacity -= copied;
    }
    return destination->error;
}

template <int Copy>
void FormatterCopy<Copy>::add_segment(FormatDestination* destination, SegmentList* list, const char* bytes,
                                      std::int32_t length) {
    list->segments[list->count] = Segment{bytes, length};
    ++list->count;
    list->bytes += length;
    if (list->count == kSegmentListSize) flush_segments(destination, list);
}

template <int Copy>
void FormatterCopy<Copy>::add_padding(FormatDestination* destination, SegmentList* list, const char* block,
                                      std::int64_t count) {
    if (count <= 0) return;
    for (; count > kPaddingBlockSize; count -= kPaddingBlockSize) {
        add_segment(destination, list, block, kPaddingBlockSize);
    }
    add_segment(destination, list, block, static_cast<std::int32_t>(count));
}

template <int Copy>
std::int32_t FormatterCopy<Copy>::text_length(const char* text) {
    const char* at = text;
    while (*at != '\0') ++at;
    return static_cast<std::int32_t>(at - text);
}

template <int Copy>
const char* FormatterCopy<Copy>::find_byte(const char* text, char byte, std::int32_t limit) {
    for (std::int32_t i = 0; i < limit; ++i) {
        if (text[i] == byte) return text + i;
    }
    return nullptr;
}

template struct FormatterCopy<1>;
template struct FormatterCopy<2>;
template struct FormatterCopy<3>;
