#include "support/xvfb.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

Xvfb::Xvfb() {
    if (access("/usr/bin/Xvfb", X_OK) != 0) return;
    for (int number = 90 + getpid() % 200; number < 400; ++number) {
        const std::string lock = "/tmp/.X" + std::to_string(number) + "-lock";
        const std::string socket = "/tmp/.X11-unix/X" + std::to_string(number);
        if (access(lock.c_str(), F_OK) == 0 || access(socket.c_str(), F_OK) == 0) continue;
        const std::string display = ":" + std::to_string(number);
        const pid_t pid = fork();
        if (pid == 0) {
            const int null = open("/dev/null", O_RDWR);
            dup2(null, 0);
            dup2(null, 1);
            dup2(null, 2);
            execl("/usr/bin/Xvfb", "Xvfb", display.c_str(), "-nolisten", "tcp", "-screen", "0", "640x480x24",
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        if (pid < 0) return;
        // Wait (bounded) for the server's socket; a server that exits lost a
        // race for the number: try the next one.
        for (int i = 0; i < 100; ++i) {
            int status = 0;
            if (waitpid(pid, &status, WNOHANG) == pid) break;
            if (access(socket.c_str(), F_OK) == 0) {
                pid_ = pid;
                display_ = display;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
}

Xvfb::~Xvfb() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
}
