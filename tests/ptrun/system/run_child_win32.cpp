// run_child of test_support.h for ptrun's suites on Windows: the program
// started with the command line its C runtime splits back into args, its
// standard output and error caught in files, since a full pipe nobody reads
// would hold the child.
#include <windows.h>

#include <stdexcept>

#include "ptrun/system/win32/command_line.h"
#include "support/test_support.h"

namespace {

HANDLE capture_file(const std::string& dir, const char* name, SECURITY_ATTRIBUTES& inherited) {
    return CreateFileA((dir + "\\" + name).c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherited, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_TEMPORARY, nullptr);
}

}  // namespace

ChildResult run_child(const std::string& program, const std::vector<std::string>& args, const std::string& dir,
                      const std::vector<std::string>& environment, bool) {
    if (!environment.empty()) throw std::runtime_error("run_child on Windows takes no environment");
    TempDir captured;
    SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ, &inherited, OPEN_EXISTING, 0, nullptr);
    startup.hStdOutput = capture_file(captured.path(), "out", inherited);
    startup.hStdError = capture_file(captured.path(), "err", inherited);
    std::vector<std::string> words = {program};
    words.insert(words.end(), args.begin(), args.end());
    std::string line = ptrun::windows_command_line(words);
    PROCESS_INFORMATION child{};
    const bool started = CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                                        nullptr, dir.c_str(), &startup, &child);
    for (HANDLE handle : {startup.hStdInput, startup.hStdOutput, startup.hStdError}) CloseHandle(handle);
    if (!started) throw std::runtime_error("cannot start " + program);
    WaitForSingleObject(child.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(child.hProcess, &code);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    ChildResult result;
    result.exit_code = code < 0x80000000u ? static_cast<int>(code) : -1;
    result.out = read_file(captured.file("out"));
    result.err = read_file(captured.file("err"));
    return result;
}
