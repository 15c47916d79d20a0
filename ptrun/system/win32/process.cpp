// Child processes on Windows. Each starts suspended inside a job object of
// its own, which holds everything it starts in turn: ending the job ends
// them all, and since the job ends when its last handle closes, a copy
// never outlives ptrun, however ptrun ends. The child is pinned, given its
// priority and put in the job before its first instruction runs.
#include "system/process.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "system/signals.h"
#include "system/win32/command_line.h"
#include "system/win32/processors.h"
#include "system/win32/signals.h"

namespace ptrun {

namespace {

using Clock = std::chrono::steady_clock;

// The exit code of a process ptrun ended: the one Windows gives a console
// program ended by Ctrl-C.
constexpr DWORD kEndedByPtrun = 0xC000013A;
constexpr DWORD kPipeBytes = 64 * 1024;

// Opting out of power throttling (Windows 10 1709 and later, looked up at
// run time): the system would otherwise run a program it deems in the
// background on its slowest settings, and a copy's score would tell that.
struct PowerThrottlingState {
    ULONG version, control_mask, state_mask;
};
constexpr int kProcessPowerThrottling = 4;  // in PROCESS_INFORMATION_CLASS
using SetProcessInformationCall = BOOL(WINAPI*)(HANDLE, int, LPVOID, DWORD);

void run_at_full_speed(HANDLE process) {
    const HMODULE kernel = GetModuleHandleA("kernel32.dll");
    const auto call = reinterpret_cast<SetProcessInformationCall>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetProcessInformation")));
    PowerThrottlingState state{1, 1, 0};  // execution speed: controlled, and not throttled
    if (call != nullptr) call(process, kProcessPowerThrottling, &state, sizeof state);
}

double hundred_ns_to_s(ULONGLONG ticks) { return static_cast<double>(ticks) / 1e7; }

ULONGLONG as_ticks(const FILETIME& time) {
    return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

void close_handle(HANDLE& handle) {
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    handle = nullptr;
}

}  // namespace

struct Process::State {
    HANDLE process = nullptr, job = nullptr, pipe = nullptr;
    bool reaped = false, ended_by_ptrun = false;
    Clock::time_point started;
};

void Process::Free::operator()(State* state) const {
    close_handle(state->pipe);
    close_handle(state->process);
    close_handle(state->job);  // ends whatever is left in it
    delete state;
}

namespace {

// The job a child goes into: ended with its last handle, no error dialog
// that would hold a crashed copy until its time limit, and the priority
// class every process in it keeps.
HANDLE make_job() {
    HANDLE job = CreateJobObjectA(nullptr, nullptr);
    if (job == nullptr) return nullptr;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE |
                                              JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION |
                                              JOB_OBJECT_LIMIT_PRIORITY_CLASS;
    limits.BasicLimitInformation.PriorityClass = NORMAL_PRIORITY_CLASS;
    SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    return job;
}

DWORD active_in(HANDLE job) {
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION info{};
    if (!QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &info, sizeof info, nullptr)) return 0;
    return info.ActiveProcesses;
}

// The program's file: as named, or looked for in PATH (with .exe added) for
// a name without a folder.
std::string program_path(const Launch& launch) {
    const std::string& name = launch.command[0];
    if (!launch.search_path || name.find_first_of("/\\:") != std::string::npos) return name;
    char found[MAX_PATH];
    const DWORD n = SearchPathA(nullptr, name.c_str(), ".exe", MAX_PATH, found, nullptr);
    return n > 0 && n < MAX_PATH ? std::string(found, n) : name;
}

// The handles the child gets, inheritable, and the end of the pipe ptrun reads.
struct ChildHandles {
    HANDLE input = nullptr, null = nullptr, pipe_read = nullptr, pipe_write = nullptr;
    ~ChildHandles() {
        close_handle(input);
        close_handle(null);
        close_handle(pipe_read);
        close_handle(pipe_write);
    }
};

bool open_child_handles(const Launch& launch, ChildHandles& handles, std::string& error) {
    SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const std::string input = launch.input.empty() ? "NUL" : launch.input;
    handles.input = CreateFileA(input.c_str(), GENERIC_READ, share, &inherited, OPEN_EXISTING, 0, nullptr);
    if (handles.input == INVALID_HANDLE_VALUE) {
        error = "cannot open " + input + ": " + error_text(GetLastError());
        return false;
    }
    handles.null = CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, share, &inherited, OPEN_EXISTING, 0, nullptr);
    if (handles.null == INVALID_HANDLE_VALUE) {
        error = "cannot open NUL: " + error_text(GetLastError());
        return false;
    }
    if (launch.output_to_pipe || launch.errors_to_pipe) {
        if (!CreatePipe(&handles.pipe_read, &handles.pipe_write, &inherited, kPipeBytes)) {
            error = "cannot open a pipe: " + error_text(GetLastError());
            return false;
        }
        SetHandleInformation(handles.pipe_read, HANDLE_FLAG_INHERIT, 0);
    }
    return true;
}

// Pins the suspended child to its one processor: within the process's own
// group the process itself (so that any thread it starts stays there), and
// in another group its first thread, which brings the process into that
// group.
bool pin(const PROCESS_INFORMATION& child, int cpu, std::string& error) {
    const std::vector<GroupProcessor> processors = active_processors();
    if (cpu < 0 || static_cast<std::size_t>(cpu) >= processors.size()) {
        error = "there is no processor " + std::to_string(cpu);
        return false;
    }
    const GroupProcessor& chosen = processors[static_cast<std::size_t>(cpu)];
    bool pinned = false;
    if (chosen.group == 0 && std::none_of(processors.begin(), processors.end(),
                                          [](const GroupProcessor& p) { return p.group != 0; })) {
        pinned = SetProcessAffinityMask(child.hProcess, chosen.bit) != 0;
    } else {
        GROUP_AFFINITY affinity{};
        affinity.Mask = chosen.bit;
        affinity.Group = chosen.group;
        pinned = SetThreadGroupAffinity(child.hThread, &affinity, nullptr) != 0;
    }
    if (!pinned) error = "cannot pin to processor " + std::to_string(cpu) + ": " + error_text(GetLastError());
    return pinned;
}

}  // namespace

bool Process::start(const Launch& launch, std::string& error) {
    take_signals();  // a stop then wakes a wait
    if (launch.command.empty()) {
        error = "no program named";
        return false;
    }
    if (state_) end_all({this}, 0);
    ChildHandles handles;
    if (!open_child_handles(launch, handles, error)) return false;
    HANDLE job = make_job();
    if (job == nullptr) {
        error = "cannot make a job object: " + error_text(GetLastError());
        return false;
    }
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = handles.input;
    startup.hStdOutput = launch.output_to_pipe ? handles.pipe_write : handles.null;
    startup.hStdError = launch.errors_to_pipe ? handles.pipe_write : handles.null;
    const std::string program = program_path(launch);
    std::string line = windows_command_line(launch.command);
    PROCESS_INFORMATION child{};
    // No console of its own and none shared: Ctrl-C in ptrun's console is
    // ptrun's to handle, and ptrun ends the copies.
    const DWORD flags = CREATE_SUSPENDED | CREATE_NO_WINDOW | NORMAL_PRIORITY_CLASS;
    const Clock::time_point started = Clock::now();
    if (!CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, TRUE, flags, nullptr,
                        launch.folder.empty() ? nullptr : launch.folder.c_str(), &startup, &child)) {
        error = "cannot run " + program + ": " + error_text(GetLastError());
        CloseHandle(job);
        return false;
    }
    bool ready = AssignProcessToJobObject(job, child.hProcess) != 0;
    if (!ready) error = "cannot put it in a job object: " + error_text(GetLastError());
    ready = ready && (launch.cpu < 0 || pin(child, launch.cpu, error));
    if (ready) {
        // A steady priority: the normal class (as on Linux, nothing else of
        // the machine's is starved), without the boosts Windows gives a
        // thread that has waited, so that a copy's share does not vary with
        // what it waits for.
        SetProcessPriorityBoost(child.hProcess, TRUE);
        run_at_full_speed(child.hProcess);
        ready = ResumeThread(child.hThread) != static_cast<DWORD>(-1);
        if (!ready) error = "cannot start its thread: " + error_text(GetLastError());
    }
    CloseHandle(child.hThread);
    if (!ready) {
        TerminateProcess(child.hProcess, kEndedByPtrun);
        CloseHandle(child.hProcess);
        CloseHandle(job);
        return false;
    }
    state_.reset(new State{child.hProcess, job, handles.pipe_read, false, false, started});
    handles.pipe_read = nullptr;  // the state's now; the child's ends close with handles
    return true;
}

double Process::seconds() const {
    return state_ ? std::chrono::duration<double>(Clock::now() - state_->started).count() : 0;
}

void Process::read_pipe(std::string& text, std::size_t kept, bool keep_last, bool& cut) {
    char buffer[16384];
    while (state_ && state_->pipe != nullptr) {
        DWORD waiting = 0;
        if (!PeekNamedPipe(state_->pipe, nullptr, 0, nullptr, &waiting, nullptr)) {
            close_handle(state_->pipe);  // every writer has gone
            return;
        }
        DWORD got = 0;
        if (waiting == 0) return;
        if (!ReadFile(state_->pipe, buffer, std::min<DWORD>(waiting, sizeof buffer), &got, nullptr) || got == 0) {
            close_handle(state_->pipe);
            return;
        }
        if (keep_last) {
            text.append(buffer, got);
            if (text.size() > kept) {
                text.erase(0, text.size() - kept);
                cut = true;
            }
        } else {
            const std::size_t room = kept > text.size() ? kept - text.size() : 0;
            text.append(buffer, std::min<std::size_t>(room, got));
            cut = cut || got > room;
            if (cut) return;  // what follows is not kept: the caller decides whether to read on
        }
    }
}

namespace {

void end_job(Process::State& state) {
    if (state.reaped && active_in(state.job) == 0) return;
    state.ended_by_ptrun = true;
    TerminateJobObject(state.job, kEndedByPtrun);
}

// Whether the process has ended and its job is empty.
bool gone(const Process::State& state) {
    return WaitForSingleObject(state.process, 0) == WAIT_OBJECT_0 && active_in(state.job) == 0;
}

}  // namespace

void Process::ask_to_end() {
    if (state_) end_job(*state_);
}

void Process::force_end() {
    if (state_) end_job(*state_);
}

bool Process::reap(Ending& ending) {
    if (!state_ || state_->reaped) return state_ && state_->reaped;
    State& state = *state_;
    if (WaitForSingleObject(state.process, 0) != WAIT_OBJECT_0) return false;
    DWORD code = 0;
    GetExitCodeProcess(state.process, &code);
    // What the job used (the process and all it started) where the system
    // keeps it, else what the process itself used.
    FILETIME created, ended, kernel, user;
    double own = 0;
    if (GetProcessTimes(state.process, &created, &ended, &kernel, &user)) {
        own = hundred_ns_to_s(as_ticks(kernel) + as_ticks(user));
    }
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION job{};
    double all = 0;
    if (QueryInformationJobObject(state.job, JobObjectBasicAccountingInformation, &job, sizeof job, nullptr)) {
        all = hundred_ns_to_s(static_cast<ULONGLONG>(job.TotalKernelTime.QuadPart + job.TotalUserTime.QuadPart));
    }
    ending.processor_s = std::max(own, all);
    ending.involuntary_switches = 0;  // Windows does not count them per process
    // Statuses (a crash, an unhandled exception, ptrun's own ending) are no exit codes.
    if (code >= 0x80000000u) {
        char status[32];
        std::snprintf(status, sizeof status, "status 0x%08lX", static_cast<unsigned long>(code));
        ending.exit_code = -1;
        ending.ended_by = state.ended_by_ptrun && code == kEndedByPtrun ? "ptrun" : status;
    } else {
        ending.exit_code = static_cast<int>(code);
        ending.ended_by.clear();
    }
    // Whatever it left in its job goes with it.
    TerminateJobObject(state.job, kEndedByPtrun);
    const Clock::time_point until = Clock::now() + std::chrono::seconds(3);
    while (active_in(state.job) != 0 && Clock::now() < until) Sleep(2);
    state.reaped = true;
    return true;
}

void end_all(const std::vector<Process*>& processes, double grace_s) {
    std::vector<Process::State*> left;
    for (Process* process : processes) {
        Process::State* state = process->state_.get();
        if (state == nullptr || state->process == nullptr) continue;
        close_handle(state->pipe);
        if (gone(*state)) continue;
        end_job(*state);
        left.push_back(state);
    }
    const auto patience = std::chrono::duration<double>(3 * std::max(grace_s, 1.0));
    const Clock::time_point until = Clock::now() + std::chrono::duration_cast<Clock::duration>(patience);
    while (!left.empty() && Clock::now() < until) {
        std::erase_if(left, [](Process::State* state) { return gone(*state); });
        if (!left.empty()) Sleep(10);
    }
    for (Process* process : processes) {
        if (process->state_) process->state_->reaped = process->state_->reaped || gone(*process->state_);
    }
}

void wait_for(const std::vector<const Process*>& processes, double seconds) {
    std::vector<HANDLE> handles{stop_event()};
    bool polling = false;  // a pipe cannot be waited on: it is looked at every few milliseconds
    for (const Process* process : processes) {
        const Process::State* state = process->state_.get();
        if (state == nullptr || state->reaped) continue;
        if (handles.size() < MAXIMUM_WAIT_OBJECTS) {
            handles.push_back(state->process);
        } else {
            polling = true;
        }
        polling = polling || state->pipe != nullptr;
    }
    double ms = std::clamp(seconds, 0.0, 3600.0) * 1000;
    if (polling) ms = std::min(ms, 20.0);
    WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, static_cast<DWORD>(ms + 0.999));
}

}  // namespace ptrun
