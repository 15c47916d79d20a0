// Parent notification over X11: the parent names its window by id or by
// title, and receives a ClientMessage of type PT_RESULT_READY whose first
// data word is the message number it asked for.
#include "platform/platform.h"
#include "platform/posix/x11.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <future>
#include <string>
#include <system_error>
#include <thread>

namespace {

// A display that accepts the connection and then never answers (a stopped
// server, or anything else listening on its socket) would hold the program
// inside Xlib for ever. So every exchange with the display runs on a thread
// of its own, and the program waits for it only this long. After one such
// wait the display counts as unreachable for the rest of the process: no
// further call goes near it, and a late answer sends nothing.
constexpr auto kDisplayPatience = std::chrono::seconds(2);
std::atomic<bool> display_given_up{false};

template <class Result, class Work>
Result with_patience(Work work, Result unreachable) {
    if (display_given_up) return unreachable;
    std::promise<Result> promise;
    std::future<Result> answer = promise.get_future();
    try {
        std::thread([promise = std::move(promise), work = std::move(work)]() mutable {
            promise.set_value(work());
        }).detach();
    } catch (const std::system_error&) {
        return unreachable;  // no thread to spare: no display either
    }
    if (answer.wait_for(kDisplayPatience) == std::future_status::ready) return answer.get();
    display_given_up = true;
    return unreachable;
}

// Xlib's default error handler ends the process; a parent window that has
// gone away must not take the benchmark with it.
int ignore_x_error(Display*, XErrorEvent*) { return 0; }

struct Connection {
    Display* display = XOpenDisplay(nullptr);
    XErrorHandler previous = nullptr;
    Connection() {
        if (display != nullptr) previous = XSetErrorHandler(ignore_x_error);
    }
    ~Connection() {
        if (display != nullptr) {
            XSync(display, False);
            XSetErrorHandler(previous);
            XCloseDisplay(display);
        }
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
};

bool has_title(Display* display, Window window, const char* title) {
    bool match = false;
    char* name = nullptr;
    if (XFetchName(display, window, &name) != 0 && name != nullptr) {
        match = std::strcmp(name, title) == 0;
        XFree(name);
    }
    if (match) return true;
    // Toolkits that set only the UTF-8 title.
    const Atom net_wm_name = XInternAtom(display, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, window, net_wm_name, 0, 1024, False, utf8, &type, &format, &count, &after,
                           &data) == Success &&
        data != nullptr) {
        match = type == utf8 && format == 8 && std::strlen(title) == count &&
                std::memcmp(data, title, count) == 0;
        XFree(data);
    }
    return match;
}

// Depth-first through the window tree, because a window manager reparents a
// program's top-level window into a frame of its own.
Window search(Display* display, Window window, const char* title, int depth) {
    if (has_title(display, window, title)) return window;
    if (depth >= 4) return 0;
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (XQueryTree(display, window, &root, &parent, &children, &count) == 0) return 0;
    Window found = 0;
    for (unsigned int i = 0; i < count && found == 0; ++i) found = search(display, children[i], title, depth + 1);
    if (children != nullptr) XFree(children);
    return found;
}

}  // namespace

WindowId find_window(const char* title) {
    if (title == nullptr || title[0] == '\0') return 0;
    return with_patience(
        [wanted = std::string(title)]() -> WindowId {
            Connection x;
            if (x.display == nullptr) return 0;
            const Window root = DefaultRootWindow(x.display);
            Window* children = nullptr;
            Window root_back = 0, parent = 0;
            unsigned int count = 0;
            Window found = 0;
            if (XQueryTree(x.display, root, &root_back, &parent, &children, &count) != 0) {
                for (unsigned int i = 0; i < count && found == 0; ++i) {
                    found = search(x.display, children[i], wanted.c_str(), 1);
                }
                if (children != nullptr) XFree(children);
            }
            return found;
        },
        WindowId{0});
}

void post_message(WindowId window, std::uint32_t message) {
    if (window == 0) return;
    with_patience(
        [window, message] {
            Connection x;
            if (x.display == nullptr) return false;
            XEvent event{};
            event.xclient.type = ClientMessage;
            event.xclient.window = static_cast<Window>(window);
            event.xclient.message_type = XInternAtom(x.display, kNotifyAtomName, False);
            event.xclient.format = 32;
            event.xclient.data.l[0] = static_cast<long>(message);
            event.xclient.data.l[1] = 0;
            event.xclient.data.l[2] = 0;
            if (display_given_up) return false;  // too late: the program has moved on without it
            XSendEvent(x.display, static_cast<Window>(window), False, NoEventMask, &event);
            XFlush(x.display);
            return true;
        },
        false);
}

bool x_display_reachable() {
    const char* name = std::getenv("DISPLAY");
    if (name == nullptr || name[0] == '\0') return false;
    // The probe stays connected: a server whose last client disconnects
    // resets itself and refuses the window's connection for a moment.
    static Display* const probe = with_patience([] { return XOpenDisplay(nullptr); }, static_cast<Display*>(nullptr));
    return probe != nullptr;
}
