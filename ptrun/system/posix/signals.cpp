// Stops on POSIX: the signals are blocked from the start and read from a
// descriptor, so one arriving at any moment is noticed where ptrun waits.
#include "system/signals.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <initializer_list>

#include "system/posix/signals.h"

namespace ptrun {

namespace {

sigset_t g_taken;
bool g_done = false;
int g_descriptor = -1;  // -1 too when the system has no signal descriptors
int g_stop = 0;

// Where there is no descriptor: the signals waiting, taken one at a time.
int next_waiting() {
    const timespec now{0, 0};
    siginfo_t info{};
    const int sig = sigtimedwait(&g_taken, &info, &now);
    return sig > 0 ? sig : 0;
}

}  // namespace

void take_signals() {
    if (g_done) return;
    g_done = true;
    sigemptyset(&g_taken);
    sigaddset(&g_taken, SIGCHLD);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction old {};
        if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler != SIG_IGN) sigaddset(&g_taken, sig);
    }
    sigprocmask(SIG_BLOCK, &g_taken, nullptr);
    g_descriptor = signalfd(-1, &g_taken, SFD_NONBLOCK | SFD_CLOEXEC);
    // A lost standard output is an error ptrun reports, not a way to die.
    signal(SIGPIPE, SIG_IGN);
    // Children whose end is ignored are reaped by the system, and their
    // times with them: a parent that started ptrun that way is overruled.
    signal(SIGCHLD, SIG_DFL);
    prctl(PR_SET_CHILD_SUBREAPER, 1);
}

int stop_signal() {
    take_signals();
    for (;;) {
        int sig = 0;
        if (g_descriptor < 0) {
            sig = next_waiting();
        } else {
            signalfd_siginfo info{};
            const ssize_t n = read(g_descriptor, &info, sizeof info);
            if (n < 0 && errno == EINTR) continue;
            if (n == static_cast<ssize_t>(sizeof info)) sig = static_cast<int>(info.ssi_signo);
        }
        if (sig == 0) return g_stop;
        if (g_stop == 0 && sig != SIGCHLD) g_stop = sig;
    }
}

int signal_descriptor() {
    take_signals();
    return g_descriptor;
}

void reset_child_signals() {
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    signal(SIGPIPE, SIG_DFL);
}

}  // namespace ptrun
