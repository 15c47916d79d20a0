// What the X11 side of the Linux platform layer offers beyond platform.h:
// for the Qt front end, which must not start on a display that does not
// answer, and for the tests of the notification.
#pragma once

// Whether an X display can be reached (DISPLAY names one that answers).
bool x_display_reachable();

// The name of the X11 atom that types the notification's ClientMessage.
inline constexpr const char* kNotifyAtomName = "PT_RESULT_READY";
