#include "support/xvfb.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

// The server picks a free display number itself and reports it on a pipe
// (-displayfd), so test programs running side by side never share a server.
Xvfb::Xvfb() {
    if (access("/usr/bin/Xvfb", X_OK) != 0) return;
    int report[2];
    if (pipe(report) != 0) return;
    const pid_t pid = fork();
    if (pid < 0) {
        close(report[0]);
        close(report[1]);
        return;
    }
    if (pid == 0) {
        close(report[0]);
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        const std::string fd = std::to_string(report[1]);
        execl("/usr/bin/Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-nolisten", "tcp", "-screen", "0", "640x480x24",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(report[1]);
    std::string number;
    pollfd p{report[0], POLLIN, 0};
    // Bounded wait: the server writes its number, then a newline, once ready.
    while (number.find('\n') == std::string::npos && poll(&p, 1, 10000) > 0) {
        char buffer[16];
        const ssize_t n = read(report[0], buffer, sizeof buffer);
        if (n <= 0) break;
        number.append(buffer, static_cast<std::size_t>(n));
    }
    close(report[0]);
    const std::size_t end = number.find('\n');
    if (end == std::string::npos || end == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        return;
    }
    pid_ = pid;
    display_ = ":" + number.substr(0, end);
}

void Xvfb::stop_answering() {
    if (pid_ > 0) kill(pid_, SIGSTOP);
}

Xvfb::~Xvfb() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        kill(pid_, SIGCONT);
        waitpid(pid_, nullptr, 0);
    }
}
