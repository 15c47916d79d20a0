// The file helpers of test_support.h, the same on every platform.
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/test_support.h"

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
