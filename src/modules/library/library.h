// Library module: the program's own printf-style formatter, driven by a
// cycle of format scripts.
#pragma once

#include <cstdint>

#include "workload/workload.h"

// The script phase and the record the next call formats into; every work
// unit resets both.
extern std::int32_t library_phase;
extern std::int32_t library_cursor;

// The arguments a script passes after its format, in order.
enum class ScriptArguments {
    word_offset,    // the record's word and offset
    offset_text,    // the record's offset and the argument text
    offset,         // the record's offset
    number_text,    // the script's number and the argument text
    offset_offset,  // the record's offset, twice
    text,           // the argument text
};

using FormatToBuffer = std::int32_t (*)(char* buffer, std::int32_t capacity, const char* format, ...);

struct LibraryScript {
    FormatToBuffer format_to_buffer;  // the formatter copy that runs it
    const char* format;
    ScriptArguments arguments;
    std::int32_t number;  // for number_text
};

inline constexpr std::int32_t kLibraryScriptCount = 12;
inline constexpr std::int32_t kLibraryMaxLength = 29;
inline constexpr std::int32_t kLibraryCursorStep = 17;
extern const char library_argument_text[];  // "Flabbergasted"
extern const LibraryScript library_scripts[kLibraryScriptCount];

// The script for a phase; every phase from 11 on (and any other outside
// 0 to 10) uses the last one.
const LibraryScript& library_script_for(std::int32_t phase);

// Runs the script of phase with record's word and offset, formatting into
// its text1 and never past the record's end. Returns the formatter's count.
std::int32_t format_library_script(std::int32_t phase, WorkRecord& record);

// One call of the library workload: formats into short_records at
// library_cursor, advances library_phase and library_cursor, and ends the
// process with "Print string too long." when the text exceeds 29 characters.
void library_step();
