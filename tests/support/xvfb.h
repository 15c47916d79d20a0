// A private X server for tests that need a display.
#pragma once

#include <string>
#include <sys/types.h>

class Xvfb {
public:
    // Starts Xvfb on a free display number; ok() tells whether it came up.
    Xvfb();
    ~Xvfb();
    Xvfb(const Xvfb&) = delete;
    Xvfb& operator=(const Xvfb&) = delete;
    bool ok() const { return pid_ > 0; }
    const std::string& display() const { return display_; }
    // Stops the server process: it still accepts connections (the kernel
    // queues them) but never answers, like a hung display.
    void stop_answering();

private:
    pid_t pid_ = -1;
    std::string display_;
};
