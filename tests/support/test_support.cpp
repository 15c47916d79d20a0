#include "support/test_support.h"
 

#include <fcntl.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

extern char** environ;

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "pt-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

ChildResult run_child(const std::string& program, const std::vector<std::string>& args, const std::string& dir,
                      const std::vector<std::string>& environment, bool stderr_terminal) {
    // Output goes to files, so a chatty child can never block on a full pipe.
    TempDir capture;
    const std::string out_path = capture.file("stdout");
    const std::string err_path = capture.file("stderr");

    std::vector<std::string> env_strings;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry(*e);
        bool replaced = false;
        for (const std::string& change : environment) {
            const std::string name = change.substr(0, change.find('='));
            if (entry.compare(0, name.size() + 1, name + "=") == 0) replaced = true;
        }
        if (!replaced) env_strings.push_back(entry);
    }
    for (const std::string& change : environment) {
        if (change.find('=') != std::string::npos) env_strings.push_back(change);
    }
    std::vector<char*> envp;
    for (std::string& s : env_strings) envp.push_back(s.data());
    envp.push_back(nullptr);

    std::vector<std::string> argv_strings{program};
    argv_strings.insert(argv_strings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& s : argv_strings) argv.push_back(s.data());
    argv.push_back(nullptr);

    int terminal = -1;
    std::string terminal_name;
    if (stderr_terminal) {
        terminal = posix_openpt(O_RDWR | O_NOCTTY);
        if (terminal < 0 || grantpt(terminal) != 0 || unlockpt(terminal) != 0) throw std::runtime_error("no pty");
        terminal_name = ptsname(terminal);
    }

    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        const int in = open("/dev/null", O_RDONLY);
        const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = stderr_terminal ? open(terminal_name.c_str(), O_WRONLY | O_NOCTTY)
                                        : open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || out < 0 || err < 0 || chdir(dir.c_str()) != 0) _exit(127);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        execve(program.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) throw std::runtime_error("waitpid failed");
    }
    ChildResult result;
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = read_file(out_path);
    if (stderr_terminal) {
        // The child has gone; what it wrote waits in the terminal's buffer.
        char buffer[4096];
        ssize_t n;
        while ((n = read(terminal, buffer, sizeof buffer)) > 0) result.err.append(buffer, static_cast<std::size_t>(n));
        close(terminal);
    } else {
        result.err = read_file(err_path);
    }
    return result;
}
