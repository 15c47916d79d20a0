#include "shell/shell.h"

const char* arg_table[kArgTableSize] = {"pt"};
std::int32_t arg_count = 1;
bool arg_table_overflow = false;
char output_file_name[kOutputFileNameSize] = {};
const char* result_file_name = nullptr;
std::int32_t module_number = 0;
std::int32_t unattended = 0;
std::int32_t label_stepping = 0;

void step_module_label() {
    if (label_stepping != 1) return;
    if (module_number == 1) {
        module_number = 3;
    } else if (++module_number == 8) {
        label_stepping = 0;
    }
}
