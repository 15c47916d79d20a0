#include "shell/shell.h"

#include <cstdlib>
#include <cstring>

const char* arg_table[kArgTableSize] = {"pt"};
std::int32_t arg_count = 1;
bool arg_table_overflow = false;
char output_file_name[kOutputFileNameSize] = {};
const char* result_file_name = nullptr;
std::int32_t module_number = 0;
std::int32_t unattended = 0;
std::int32_t label_stepping = 0;

void reset_shell_settings() {
    for (int i = 1; i < arg_count; ++i) {
        std::free(const_cast<char*>(arg_table[i]));
        arg_table[i] = nullptr;
    }
    arg_table[0] = "pt";
    arg_count = 1;
    arg_table_overflow = false;
    std::memset(output_file_name, 0, sizeof output_file_name);
    result_file_name = nullptr;
    module_number = 0;
    module_label = nullptr;
    version_text = nullptr;
    unattended = 0;
    printing = 0;
    break_prompts = 0;
    label_stepping = 0;
}

void step_module_label() {
    if (label_stepping != 1) return;
    if (module_number == 1) {
        module_number = 3;
    } else if (++module_number == 8) {
        label_stepping = 0;
    }
}
