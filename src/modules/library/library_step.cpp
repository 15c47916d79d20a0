#include <cstring>

#include "modules/library/formatter.h"
#include "modules/library/library.h"
#include "workload/report_error.h"

std::int32_t library_phase;
std::int32_t library_cursor;

const char library_argument_text[] = "Flabbergasted";

// Phase p runs on copy p mod 3 + 1, so every format meets more than one copy.
const LibraryScript library_scripts[kLibraryScriptCount] = {
    {FormatterCopy<1>::format_to_buffer, "%s: Int: %d.\n", ScriptArguments::word_offset, 0},
    {FormatterCopy<2>::format_to_buffer, "I am %d %.7s\n", ScriptArguments::offset_text, 0},
    {FormatterCopy<3>::format_to_buffer, "HEX, 08X: %#08X.\n", ScriptArguments::offset, 0},
    {FormatterCopy<1>::format_to_buffer, "I am %.*s\n", ScriptArguments::number_text, 4},
    {FormatterCopy<2>::format_to_buffer, "%s: Int: %d.\n", ScriptArguments::word_offset, 0},
    {FormatterCopy<3>::format_to_buffer, "I am %d %.7s\n", ScriptArguments::offset_text, 0},
    {FormatterCopy<1>::format_to_buffer, "+d: %+d, 08X: %#08X.\n", ScriptArguments::offset_offset, 0},
    {FormatterCopy<2>::format_to_buffer, "I am %.*s\n", ScriptArguments::number_text, 8},
    {FormatterCopy<3>::format_to_buffer, "%s: Int: %d.\n", ScriptArguments::word_offset, 0},
    {FormatterCopy<1>::format_to_buffer, "I am %.7s\n", ScriptArguments::text, 0},
    {FormatterCopy<2>::format_to_buffer, "Signed, +d: %+d\n", ScriptArguments::offset, 0},
    {FormatterCopy<3>::format_to_buffer, "I am %.*s\n", ScriptArguments::number_text, 6},
};

const LibraryScript& library_script_for(std::int32_t phase) {
    constexpr std::int32_t last = kLibraryScriptCount - 1;
    return library_scripts[phase >= 0 && phase < last ? phase : last];
}

std::int32_t format_library_script(std::int32_t phase, WorkRecord& record) {
    const LibraryScript& script = library_script_for(phase);
    char* const buffer = record.text1;
    // The text may run on over the record's later fields, but never out of
    // the record: the last byte is kept for the NUL.
    const auto room = static_cast<std::int32_t>(reinterpret_cast<char*>(&record + 1) - buffer) - 1;
    const char* const format = script.format;
    switch (script.arguments) {
        case ScriptArguments::word_offset:
            return script.format_to_buffer(buffer, room, format, record.word, record.offset);
        case ScriptArguments::offset_text:
            return script.format_to_buffer(buffer, room, format, record.offset, library_argument_text);
        case ScriptArguments::offset:
            return script.format_to_buffer(buffer, room, format, record.offset);
        case ScriptArguments::number_text:
            return script.format_to_buffer(buffer, room, format, script.number, library_argument_text);
        case ScriptArguments::offset_offset:
            return script.format_to_buffer(buffer, room, format, record.offset, record.offset);
        case ScriptArguments::text:
            return script.format_to_buffer(buffer, room, format, library_argument_text);
    }
    return 0;
}

void library_step() {
    WorkRecord& record = short_records[library_cursor];
    format_library_script(library_phase, record);

    if (library_phase >= kLibraryScriptCount - 1) {
        library_phase = 0;
    } else {
        ++library_phase;
    }

    if (std::strlen(record.text1) > static_cast<std::size_t>(kLibraryMaxLength)) {
        report_error("Print string too long.");
    }

    library_cursor -= kLibraryCursorStep;
    if (library_cursor < 0) library_cursor += kRecordCount;
}
