#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "shell/shell.h"

namespace {

// The six white-space characters of the C locale; bytes 128 to 255 never are.
bool is_white(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool starts_with_nocase(const char* text, const char* prefix) {
    for (; *prefix != '\0'; ++text, ++prefix) {
        if (lower(*text) != *prefix) return false;
    }
    return true;
}

bool equals_nocase(const char* text, const char* word) {
    return starts_with_nocase(text, word) && text[std::strlen(word)] == '\0';
}

// Standard decimal conversion: blanks, a sign, digits up to the first
// non-digit, no digits giving 0. Values beyond 32 bits saturate, which keeps
// them outside every accepted range.
std::int32_t decimal_value(const char* p) {
    while (is_white(*p)) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    std::int64_t value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        if (value <= INT32_MAX) value = value * 10 + (*p - '0');
    }
    if (value > INT32_MAX) value = INT32_MAX;
    return static_cast<std::int32_t>(negative ? -value : value);
}

const char* const usage_format =
    "Usage: %s [/o=outfilename] [/test=module] [/break]\n\nWhere:\n"
    "       outfilename is the name of the output file\n"
    "       module is an integer 1-9:\n"
    "        1: data copy       2: data compression\n"
    "        3: date adjustment 4: word analysis\n"
    "        5: parsing         6: library\n"
    "        7: database        8: all\n"
    "        9: non-database\n"
    "       /break prompts at start and end of timed sections\n";

const char* const module_labels[9] = {
    "Data copy module",   "Data compression module", "Date adjustment module",
    "Word analysis module", "Parsing module",        "Library module",
    "Database module",    "All modules",             "All non-database modules",
};

// The first thing wrong with the command line. The usage text that reaches
// the result file, the output file or the box says what is allowed, never
// which argument broke the rule; this line on standard error does, for a
// script's log or the person at the terminal.
char usage_fault[160];

void note_fault(const char* before, const char* argument, const char* after) {
    if (usage_fault[0] != '\0') return;
    constexpr std::size_t kShown = 40;  // a line, however long the argument
    const bool cut = std::strlen(argument) > kShown;
    std::snprintf(usage_fault, sizeof usage_fault, "%s%.*s%s%s", before, static_cast<int>(kShown), argument,
                  cut ? "..." : "", after);
}

}  // namespace

namespace {

// Copies one argument into the table; a command line with more than the table
// holds is rejected by the option parser, never silently shortened.
void add_argument(const char* text, std::size_t length) {
    if (arg_count >= kArgTableSize) {
        arg_table_overflow = true;
        return;
    }
    char* copy = static_cast<char*>(std::malloc(length + 1));
    if (copy == nullptr) report_error("Out of memory.");
    std::memcpy(copy, text, length);
    copy[length] = '\0';
    arg_table[arg_count++] = copy;
}

}  // namespace

void split_command_line(const char* text) {
    arg_table[0] = "pt";
    arg_count = 1;
    const char* p = text != nullptr ? text : "";
    while (is_white(*p)) ++p;
    while (*p != '\0') {
        const char* start;
        const char* end;
        if (*p == '"' || *p == '\'') {
            const char quote = *p++;
            start = p;
            while (*p != '\0' && *p != quote) ++p;
            end = p;
            if (*p == quote) ++p;
        } else {
            start = p;
            while (*p != '\0' && !is_white(*p)) ++p;
            end = p;
        }
        add_argument(start, static_cast<std::size_t>(end - start));
        while (is_white(*p)) ++p;
    }
}

void store_arguments(int count, const char* const* args) {
    arg_table[0] = "pt";
    arg_count = 1;
    for (int i = 0; i < count; ++i) add_argument(args[i], std::strlen(args[i]));
}

void parse_options() {
    std::memset(output_file_name, 0, sizeof output_file_name);
    module_number = 8;
    bool usage_error = arg_table_overflow;
    usage_fault[0] = '\0';
    if (arg_table_overflow) note_fault("more than 19 arguments", "", "");
    const char* module_option = nullptr;  // the /test= that counts

    for (int i = 1; i < arg_count; ++i) {
        const char* entry = arg_table[i];
        bool plain = entry[0] != '-' && entry[0] != '/';
        if (!plain) {
            const char* option = entry + 1;
            if (starts_with_nocase(option, "o=")) {
                const char* name = option + 2;
                if (std::strlen(name) < sizeof output_file_name) {
                    std::strcpy(output_file_name, name);
                } else {
                    output_file_name[0] = '\0';
                    usage_error = true;
                    note_fault("", entry, ": the output file name is longer than 79 characters");
                }
            } else if (starts_with_nocase(option, "test=")) {
                module_number = decimal_value(option + 5);
                module_option = entry;
            } else if (equals_nocase(option, "break")) {
                break_prompts = 1;
            } else if (entry[0] == '/' && std::strchr(option, '/') != nullptr) {
                // An absolute path such as /tmp/results.ini: no option holds
                // a second slash, so this names a file.
                plain = true;
            } else {
                usage_error = true;
                note_fault("unknown option ", entry, "");
            }
        }
        if (plain) {
            if (result_file_name == nullptr) {
                result_file_name = entry;
            } else {
                usage_error = true;
                note_fault("a second result file: ", entry, "");
            }
        }
    }

    unattended = result_file_name != nullptr ? 1 : 0;

    if (module_number == 0) {
        label_stepping = 1;
        module_number = 1;
    } else if (module_number < 1 || module_number > 9) {
        usage_error = true;
        note_fault("", module_option, ": the module is a number from 0 to 9");
    }

    if (output_file_name[0] != '\0') {
        if (std::freopen(output_file_name, "w+", stdout) != nullptr) {
            printing = 1;
        } else {
            usage_error = true;
            char why[96];
            std::snprintf(why, sizeof why, ": cannot create the output file: %s", std::strerror(errno));
            note_fault("", output_file_name, why);
        }
    }

    if (usage_error) {
        std::fprintf(stderr, "pt: %s\n", usage_fault);
        char usage[1024];
        std::snprintf(usage, sizeof usage, usage_format, arg_table[0]);
        report_error(usage);
    }
}

const char* module_label_for(std::int32_t number) {
    return number >= 1 && number <= 9 ? module_labels[number - 1] : nullptr;
}

void select_module_label() {
    version_text = "32-bit Version";
    if (const char* label = module_label_for(module_number)) module_label = label;
}
