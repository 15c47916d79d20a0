// The temporary directory of test_support.h for the Windows build. Starting
// child processes is left to the scripts that run the Windows program.
#include <windows.h>

#include <cstdio>
#include <stdexcept>

#include "support/test_support.h"

namespace {

void remove_tree(const std::string& dir) {
    WIN32_FIND_DATAA entry;
    const HANDLE find = FindFirstFileA((dir + "\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = entry.cFileName;
            if (name == "." || name == "..") continue;
            const std::string path = dir + "\\" + name;
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                remove_tree(path);
            } else {
                DeleteFileA(path.c_str());
            }
        } while (FindNextFileA(find, &entry));
        FindClose(find);
    }
    RemoveDirectoryA(dir.c_str());
}

}  // namespace

TempDir::TempDir() {
    char base[MAX_PATH];
    GetTempPathA(sizeof base, base);
    static unsigned serial = 0;
    for (;;) {
        char name[MAX_PATH + 64];
        std::snprintf(name, sizeof name, "%spt-test-%lu-%u", base, GetCurrentProcessId(), ++serial);
        if (CreateDirectoryA(name, nullptr)) {
            path_ = name;
            return;
        }
        // Only a name already taken is worth another try.
        if (GetLastError() != ERROR_ALREADY_EXISTS) throw std::runtime_error("cannot create a temporary directory");
    }
}

TempDir::~TempDir() { remove_tree(path_); }
