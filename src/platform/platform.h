// The few things the benchmark takes from the operating system. Plain
// functions, one implementation per platform (posix/ and win32/). Everything
// else in the core is portable C++.
#pragma once

#include <cstddef>
#include <cstdint>

// ---- Tick counter --------------------------------------------------------

// Milliseconds since an arbitrary start, as an unsigned 32-bit value that
// wraps. Elapsed times are always taken as unsigned differences.
std::uint32_t tick_count();

// Replaces the tick source (tests drive the run driver with a fake clock).
// Passing nullptr restores the real one.
using TickSource = std::uint32_t (*)();
void set_tick_source(TickSource source);

// ---- Nanosecond clock ------------------------------------------------------

// A monotonic clock in nanoseconds since an arbitrary start (CLOCK_MONOTONIC
// on Linux). The profile times each module's block of step calls with it;
// the score never uses it.
std::uint64_t monotonic_ns();
using NanosecondSource = std::uint64_t (*)();

// ---- Hardware event counters ------------------------------------------------

// The kernel's generic events, counted for the calling thread in user mode
// only (the default perf_event_paranoid of 2 allows nothing else), in this
// order everywhere.
enum CounterEvent : std::size_t {
    kInstructionsEvent,
    kCyclesEvent,
    kBranchMissesEvent,
    kL1InstructionMissesEvent,
    kInstructionTlbMissesEvent,
    kCounterEventCount
};

// Cumulative counts since the group was opened, of the time it was enabled.
// on_processor is false once the group has been enabled without being on the
// processor all that time (the kernel shared the counters with another user),
// and when the group could not be read: such counts are not measurements.
struct CounterReading {
    std::uint64_t value[kCounterEventCount];
    bool on_processor;
};

// The events that could be opened, and for every one that could not, why.
struct CounterOpening {
    bool available[kCounterEventCount];
    char reason[kCounterEventCount][160];
};

// A counter group for the calling thread behind plain functions, so that
// tests can count with a fake. open creates the group disabled; enable and
// disable switch the whole group at once; read is valid only while it is
// open, close ends it.
struct CounterSource {
    void (*open)(CounterOpening& opening);
    void (*enable)();
    void (*disable)();
    CounterReading (*read)();
    void (*close)();
};
// The system's counters: perf_event_open on Linux; none elsewhere (every
// event unavailable, with the reason).
const CounterSource& hardware_counters();

// ---- What the running thread gets from the processor ---------------------

// The processor time the calling thread has used, read together with a
// monotonic clock, so that two readings give the thread's share of the
// processor between them. involuntary_switches is -1 where the system does
// not count them; cpu_ns and wall_ns are both 0 when nothing can be read.
struct ThreadTimes {
    std::uint64_t wall_ns;
    std::uint64_t cpu_ns;
    std::int64_t involuntary_switches;
};
ThreadTimes thread_times();
// Tests replace the readings as they replace the tick source; nullptr
// restores the real ones.
using ThreadTimesSource = ThreadTimes (*)();
void set_thread_times_source(ThreadTimesSource source);

// The frequency governor of processor cpu, or of the one the calling thread
// runs on when cpu is negative ("performance", "powersave", ...), copied into
// buffer, and that processor's number; an empty text where the system does
// not say.
int processor_governor(int cpu, char* buffer, std::size_t buffer_size);

// ---- Message box ---------------------------------------------------------

// Flag values as the original window system defined them; the run driver and
// the error path pass these and the box implementation reads the icon bits.
inline constexpr unsigned kBoxOk = 0x0000;
inline constexpr unsigned kBoxIconError = 0x0010;
inline constexpr unsigned kBoxIconInformation = 0x0040;
inline constexpr unsigned kBoxTaskModal = 0x2000;
inline constexpr unsigned kBoxErrorFlags = kBoxOk | kBoxIconError | kBoxTaskModal;             // 0x2010
inline constexpr unsigned kBoxInformationFlags = kBoxOk | kBoxIconInformation | kBoxTaskModal; // 0x2040

// Shows text with a caption and waits until the user has seen it. Without a
// graphical front end the text goes to standard error, and an information
// box (the /break prompts) waits for Enter when standard input is a terminal.
void message_box(const char* text, const char* caption, unsigned flags);

// A front end with real windows installs its own box; nullptr restores the
// terminal one.
using MessageBoxHandler = void (*)(const char* text, const char* caption, unsigned flags);
void set_message_box_handler(MessageBoxHandler handler);

// ---- Ending the process -----------------------------------------------------

// Ends the process with a normal exit (output files flushed and closed). A
// front end whose event loop runs on another thread than the benchmark
// installs a handler that makes the exit happen on its own thread.
[[noreturn]] void exit_process(int code);
using ExitHandler = void (*)(int code);
void set_exit_handler(ExitHandler handler);

// ---- Before the unattended run ----------------------------------------------

// Called once before the single run without a window. On Windows it looks at
// the message queue once, which creates it: a parent that waits for the
// program to become idle before it waits for the result stops waiting.
// Elsewhere there is nothing to do.
void prepare_unattended_run();

// ---- Progress for people at a terminal ------------------------------------

// Writes "pt: <text>" as a line on standard error, but only when standard
// error is a terminal. Never called inside a timed section.
void show_status(const char* text);

// ---- Profile (INI) files --------------------------------------------------
//
// Section and key names match without regard to ASCII case; a key that occurs
// more than once, also in repeated sections, counts as one (a delete removes
// every occurrence, a set leaves exactly one). Every line of the file that a
// write does not touch is kept as it was. Writes are collected in memory and
// reach the file at the next flush, which replaces it atomically. A file that
// is not a regular file is never opened (reads give the default, writes fail),
// and one this user may not write is not replaced (the flush fails).

// Sets section/key to value, creating the section or key as needed. A null
// value deletes the key; line breaks and backslashes in a value are written
// as \n, \r and \\ so that it stays on its line. A null section (with null key and value) flushes all
// collected writes to their file. Returns false when the file could not be
// read or, for a flush, written.
bool profile_write_string(const char* section, const char* key, const char* value,
                          const char* file_name);

// The key's value as an integer (decimal, or hexadecimal after "0x"), or
// default_value when the key is missing or does not start with a number.
std::int32_t profile_read_int(const char* section, const char* key, std::int32_t default_value,
                              const char* file_name);

// Copies the key's value (blanks trimmed, one pair of surrounding quotes
// removed) or default_value into buffer, truncated to buffer_size - 1
// characters and always terminated. Returns the number of characters copied.
std::size_t profile_read_string(const char* section, const char* key, const char* default_value,
                                char* buffer, std::size_t buffer_size, const char* file_name);

// ---- Parent notification ---------------------------------------------------

// A window of the desktop's window system, 0 for none.
using WindowId = std::uint64_t;

// The top-level window whose title is exactly title, or 0 when there is none
// or no display can be reached.
WindowId find_window(const char* title);

// Sends message number message to window, without waiting for it to be
// handled. Failures are not reported: the notification is best effort.
void post_message(WindowId window, std::uint32_t message);

