// The helpers of test_support.h that are the same on every platform: files,
// the fake clock and the start-up of the shell settings.
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/test_support.h"

#include "platform/platform.h"
#include "shell/shell.h"

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void write_file(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

bool file_exists(const std::string& path) { return std::filesystem::exists(path); }

namespace fake_clock {
std::uint32_t now;
std::uint32_t step;
int readings;

namespace {
std::uint32_t tick() {
    const std::uint32_t reading = now;
    now += step;
    ++readings;
    return reading;
}
}  // namespace

void start(std::uint32_t from, std::uint32_t step_ms) {
    now = from;
    step = step_ms;
    readings = 0;
    set_tick_source(tick);
}

void stop() { set_tick_source(nullptr); }
}  // namespace fake_clock

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

void start_shell(const char* command_line) {
    reset_shell_settings();
    split_command_line(command_line);
    parse_options();
    select_module_label();
}
