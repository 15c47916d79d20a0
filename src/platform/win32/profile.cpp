// The result file through the system's own profile functions.
#include <windows.h>

#include <string>

#include "platform/platform.h"
#include "platform/profile_value.h"

namespace {

// The profile functions look for a name without a directory in the Windows
// directory, not in the current one. A result file named on the command line
// belongs where the user is, so every name is made absolute first.
std::string full_path(const char* file_name) {
    char path[MAX_PATH];
    const DWORD length = GetFullPathNameA(file_name, sizeof path, path, nullptr);
    if (length == 0 || length >= sizeof path) return file_name;
    return path;
}

}  // namespace

bool profile_write_string(const char* section, const char* key, const char* value, const char* file_name) {
    if (file_name == nullptr) return false;
    const std::string path = full_path(file_name);
    if (section == nullptr) {
        // The flush reports nothing useful (it returns FALSE by design);
        // the writes before it have said whether the file can be written.
        WritePrivateProfileStringA(nullptr, nullptr, nullptr, path.c_str());
        return true;
    }
    if (key == nullptr) return false;
    if (value == nullptr) return WritePrivateProfileStringA(section, key, nullptr, path.c_str()) != FALSE;
    const std::string text = escape_profile_value(value);
    return WritePrivateProfileStringA(section, key, text.c_str(), path.c_str()) != FALSE;
}

std::int32_t profile_read_int(const char* section, const char* key, std::int32_t default_value,
                              const char* file_name) {
    const std::string path = full_path(file_name);
    return static_cast<std::int32_t>(
        GetPrivateProfileIntA(section, key, static_cast<INT>(default_value), path.c_str()));
}

std::size_t profile_read_string(const char* section, const char* key, const char* default_value,
                                char* buffer, std::size_t buffer_size, const char* file_name) {
    if (buffer == nullptr || buffer_size == 0) return 0;
    const std::string path = full_path(file_name);
    return GetPrivateProfileStringA(section, key, default_value != nullptr ? default_value : "", buffer,
                                    static_cast<DWORD>(buffer_size), path.c_str());
}
