// Included before every source of GoogleTest and of the test programs in the
// Windows build. The program is built with the win32 thread model, whose C++
// library has no std::mutex or std::condition_variable. GoogleTest does all
// its Windows threading with the system's own calls except for one class, the
// start signal for its threads; this is that class on an event object, which
// GoogleTest takes instead of its own when GTEST_HAS_NOTIFICATION_ is set.
#pragma once

#include <windows.h>

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing::internal {

class Notification {
public:
    Notification() : event_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~Notification() { CloseHandle(event_); }
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;

    void Notify() { SetEvent(event_); }
    void WaitForNotification() { WaitForSingleObject(event_, INFINITE); }

private:
    HANDLE event_;
};

}  // namespace testing::internal
