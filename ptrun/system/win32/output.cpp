// Output files on Windows: written beside the file, flushed to disk and
// moved onto it in one step, so a reader sees the old file or the new one.
#include "system/output.h"

#include <windows.h>

#include <filesystem>

#include "system/host.h"
#include "system/win32/signals.h"

namespace ptrun {

namespace fs = std::filesystem;

namespace {

// Whether two handles are of the same file.
bool same_file(HANDLE a, HANDLE b) {
    BY_HANDLE_FILE_INFORMATION first{}, second{};
    return GetFileInformationByHandle(a, &first) && GetFileInformationByHandle(b, &second) &&
           first.dwVolumeSerialNumber == second.dwVolumeSerialNumber && first.nFileIndexHigh == second.nFileIndexHigh &&
           first.nFileIndexLow == second.nFileIndexLow;
}

bool is_standard_output(const std::string& name) {
    if (name == "-") return true;
    const HANDLE file = CreateFileA(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const bool same = same_file(file, GetStdHandle(STD_OUTPUT_HANDLE));
    CloseHandle(file);
    return same;
}

bool write_all(HANDLE file, const std::string& text, std::string& error) {
    std::size_t written = 0;
    while (written < text.size()) {
        DWORD n = 0;
        const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(text.size() - written, 1u << 20));
        if (!WriteFile(file, text.data() + written, piece, &n, nullptr) || n == 0) {
            error = error_text(GetLastError());
            return false;
        }
        written += n;
    }
    return true;
}

bool write_pieces(HANDLE file, const std::function<void(const TextSink&)>& produce, std::string& error) {
    bool ok = true;
    produce([&](const std::string& piece) { ok = ok && write_all(file, piece, error); });
    return ok;
}

// A new file beside target, with a name no one else uses.
HANDLE temporary_beside(const std::string& target, std::string& temporary) {
    const fs::path file(target);
    for (int attempt = 0; attempt < 100; ++attempt) {
        unsigned char bytes[4];
        unpredictable_bytes(bytes, sizeof bytes);
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, ".%02x%02x%02x%02x", bytes[0], bytes[1], bytes[2], bytes[3]);
        temporary = (file.parent_path() / ("." + file.filename().string() + suffix)).string();
        const HANDLE handle =
            CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) return handle;
    }
    return INVALID_HANDLE_VALUE;
}

}  // namespace

bool resolve_target(const std::string& name, Target& target, std::string& error, const std::string& option) {
    target = Target{};
    if (is_standard_output(name)) {
        target.standard_output = true;
        return true;
    }
    std::error_code failed;
    const fs::file_status status = fs::status(name, failed);
    target.file = fs::weakly_canonical(fs::absolute(name, failed), failed).string();
    if (target.file.empty() || fs::path(target.file).filename().empty()) {
        error = option + " " + name + " names no file";
        return false;
    }
    if (fs::exists(status) && !fs::is_regular_file(status)) {
        const char* kind = fs::is_directory(status) ? "a folder" : "not a regular file";
        error = option + " " + name + " is " + kind + ": give a file, or - for standard output";
        return false;
    }
    const DWORD attributes = GetFileAttributesA(target.file.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        error = "cannot write " + option + " " + name + ": the file is read-only";
        return false;
    }
    // The figures are written beside the file and moved onto it.
    std::string probe;
    const HANDLE handle = temporary_beside(target.file, probe);
    if (handle == INVALID_HANDLE_VALUE) {
        error = "cannot write " + option + " " + name + ": " + error_text(GetLastError());
        return false;
    }
    CloseHandle(handle);
    DeleteFileA(probe.c_str());
    return true;
}

bool write_plain_file(const std::string& path, const std::string& text) {
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    std::string ignored;
    const bool ok = write_all(file, text, ignored);
    return CloseHandle(file) && ok;
}

bool write_output(const Target& target, const std::string& text, std::string& error) {
    return write_output(target, [&text](const TextSink& sink) { sink(text); }, error);
}

bool write_output(const Target& target, const std::function<void(const TextSink&)>& produce, std::string& error) {
    if (target.standard_output) {
        std::fflush(stdout);
        if (write_pieces(GetStdHandle(STD_OUTPUT_HANDLE), produce, error)) return true;
        error = "cannot write the figures to standard output: " + error;
        return false;
    }
    std::string temporary;
    const HANDLE file = temporary_beside(target.file, temporary);
    if (file == INVALID_HANDLE_VALUE) {
        error = "cannot write " + target.file + ": " + error_text(GetLastError());
        return false;
    }
    bool ok = write_pieces(file, produce, error);
    if (ok && !FlushFileBuffers(file)) {
        ok = false;
        error = error_text(GetLastError());
    }
    if (!CloseHandle(file) && ok) {
        ok = false;
        error = error_text(GetLastError());
    }
    const DWORD replace = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
    if (ok && !MoveFileExA(temporary.c_str(), target.file.c_str(), replace)) {
        ok = false;
        error = error_text(GetLastError());
    }
    if (!ok) {
        error = "cannot write " + target.file + ": " + error;
        DeleteFileA(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace ptrun
