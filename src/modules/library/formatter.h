// The program's own printf-style formatter, in three copies. Each copy has its
// own code, its own helpers and its own padding blocks, so the library
// workload runs through three separate stretches of code and data.
//
// Integers, characters and texts only; no floating point. Every numeric
// argument, including the one %p reads, is a 32-bit int, and `l`, `D`, `O`
// and `U` read 32 bits too: the formatter was made for a machine whose long
// and pointers were 32 bits wide.
#pragma once

#include <cstdarg>
#include <cstdint>

// Output is never copied byte by byte while a format is scanned: the engine
// notes where each piece lies (format text, padding block, scratch buffer,
// argument text) and copies the pieces out in batches.
struct Segment {
    const char* bytes;
    std::int32_t length;
};

inline constexpr std::int32_t kSegmentListSize = 8;

struct SegmentList {
    Segment segments[kSegmentListSize];
    std::int32_t count;  // segments in use
    std::int32_t bytes;  // bytes they hold
};

struct FormatDestination {
    char* position;         // where the next byte goes
    std::int32_t capacity;  // bytes that may still be written
    // Nonzero once the destination has failed. A memory buffer cannot fail:
    // nothing sets it, and it stays 0. The engine keeps the check so that its
    // results mean the same as for a destination that can.
    std::int32_t error;
};

inline constexpr std::int32_t kPaddingBlockSize = 16;

// Shared by all copies.
extern const char digits_lower[];  // "0123456789abcdef"
extern const char digits_upper[];  // "0123456789ABCDEF"
extern const char null_text[];     // "(null)", printed for a null %s argument

template <int Copy>
struct FormatterCopy {
    static const char space_block[kPaddingBlockSize];
    static const char zero_block[kPaddingBlockSize];

    // Formats into buffer, writing at most capacity characters and then a
    // NUL after the last one written (so buffer must hold capacity + 1
    // bytes). Returns the number of characters the format produces, which
    // is more than capacity when the output was cut short.
    static std::int32_t format_to_buffer(char* buffer, std::int32_t capacity, const char* format, ...);

    // The count produced, or -1 if the destination failed.
    static std::int32_t format_engine(FormatDestination* destination, const char* format, va_list arguments);

    // Writes the digits of value backwards, ending just before end; returns
    // where they start. In base 8 the alternate form puts a 0 in front.
    static char* unsigned_to_digits(std::uint32_t value, char* end, std::uint32_t base, bool alternate_form,
                                    const char* digit_table);

    // Nonzero on error. The list is empty afterwards either way.
    static std::int32_t flush_segments(FormatDestination* destination, SegmentList* list);
    static std::int32_t append_to_destination(FormatDestination* destination, const SegmentList* list);

    // Adds one segment, flushing the list as soon as it is full.
    static void add_segment(FormatDestination* destination, SegmentList* list, const char* bytes,
                            std::int32_t length);
    // count bytes of a padding block: whole blocks, then the last 1 to 16.
    // Nothing for a count of zero or less.
    static void add_padding(FormatDestination* destination, SegmentList* list, const char* block,
                            std::int64_t count);

    static std::int32_t text_length(const char* text);
    // The first occurrence of byte within the first limit bytes, or nullptr.
    // Reads no further than that, so text need not be terminated.
    static const char* find_byte(const char* text, char byte, std::int32_t limit);
};

extern template struct FormatterCopy<1>;
extern template struct FormatterCopy<2>;
extern template struct FormatterCopy<3>;
