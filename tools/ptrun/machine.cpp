#include "machine.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "options.h"
#include "platform/platform.h"

namespace ptrun {

namespace fs = std::filesystem;

std::string read_text(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::optional<std::string> output_of(const std::vector<std::string>& command, int seconds_allowed) {
    int pipe_ends[2];
    if (pipe(pipe_ends) != 0) return std::nullopt;
    const pid_t pid = fork();
    if (pid < 0) return std::nullopt;
    if (pid == 0) {
        std::vector<char*> args;
        for (const std::string& arg : command) args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        // ptrun blocks its stop signals and ignores SIGPIPE; a program it runs must not.
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        signal(SIGPIPE, SIG_DFL);
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(pipe_ends[1], 1);
        dup2(null, 2);
        close(pipe_ends[0]);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(pipe_ends[1]);
    fcntl(pipe_ends[0], F_SETFL, O_NONBLOCK);
    std::string text;
    const std::time_t deadline = std::time(nullptr) + seconds_allowed;
    int status = 0;
    bool ended = false;
    while (!ended && std::time(nullptr) <= deadline) {
        char buffer[4096];
        ssize_t n;
        while ((n = read(pipe_ends[0], buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(n));
        ended = waitpid(pid, &status, WNOHANG) == pid;
        if (!ended) usleep(20000);
    }
    if (!ended) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    char buffer[4096];
    ssize_t n;
    while ((n = read(pipe_ends[0], buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(n));
    close(pipe_ends[0]);
    if (!ended || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

BuildInfo parse_build_line(const std::string& line) {
    BuildInfo info;
    std::string rest = line;
    if (rest.rfind("ptverify ", 0) == 0) rest = rest.substr(9);
    if (rest.rfind("version ", 0) != 0) return info;
    rest = rest.substr(8);
    const std::size_t for_at = rest.find(" for ");
    const std::size_t by_at = rest.find(", built by ");
    const std::size_t with_at = rest.find(" with ", by_at == std::string::npos ? 0 : by_at);
    if (for_at == std::string::npos || by_at == std::string::npos || with_at == std::string::npos ||
        !(for_at < by_at && by_at < with_at)) {
        return info;
    }
    info.version = rest.substr(0, for_at);
    info.target = rest.substr(for_at + 5, by_at - for_at - 5);
    const std::string compiler = rest.substr(by_at + 11, with_at - by_at - 11);
    const std::size_t space = compiler.rfind(' ');
    info.compiler = space == std::string::npos ? compiler : compiler.substr(0, space);
    info.compiler_version = space == std::string::npos ? "" : compiler.substr(space + 1);
    info.flags = rest.substr(with_at + 6);
    // Earlier builds wrote CMake's name for GCC.
    if (info.compiler == "GNU") info.compiler = "GCC";
    return info;
}

Machine describe_machine(const std::vector<int>& cpus) {
    Machine machine;
    char host[256] = "";
    if (gethostname(host, sizeof host - 1) == 0) machine.hostname = host;
    if (machine.hostname.empty()) machine.hostname = "unknown";
    machine.processor = proc_value(read_text("/proc/cpuinfo"), "model name").value_or("");
    if (machine.processor.empty()) machine.processor = "unknown";
    machine.online = sysconf(_SC_NPROCESSORS_ONLN);
    utsname names{};
    if (uname(&names) == 0) {
        machine.kernel = std::string(names.sysname) + " " + names.release + " " + names.machine;
    }
    machine.memory_bytes =
        std::strtoull(proc_value(read_text("/proc/meminfo"), "MemTotal").value_or("").c_str(), nullptr, 10) * 1024u;
    // The governors of the processors the copies run on, each named once.
    for (int cpu : cpus) {
        char text[64];
        processor_governor(cpu, text, sizeof text);
        const std::string governor = text;
        if (!governor.empty() && machine.governor.find(governor) == std::string::npos) {
            machine.governor += (machine.governor.empty() ? "" : ", ") + governor;
        }
    }
    if (machine.governor.empty()) machine.governor = "unknown";
    if (getloadavg(machine.load, 3) != 3) machine.load[0] = machine.load[1] = machine.load[2] = -1;
    machine.environment = read_environment(cpus);
    return machine;
}

Build describe_build(const std::string& id, const std::string& pt) {
    Build build;
    build.id = id;
    build.path = pt;
    const std::optional<std::string> sum = output_of({"sha256sum", pt}, 30);
    build.sha256 = sum ? sum->substr(0, sum->find(' ')) : "unknown";
    // The build describes itself through its verification tool: beside pt
    // when installed, in tools/ beside src/ in a build tree.
    const fs::path pt_dir = fs::path(pt).parent_path();
    std::optional<std::string> line;
    for (const fs::path& verifier : {pt_dir / "ptverify", pt_dir / ".." / "tools" / "ptverify"}) {
        if (line || !is_executable_file(verifier.string())) continue;
        line = output_of({verifier.string(), "--version"}, 10);
        if (line) build.verifier = verifier.lexically_normal().string();
    }
    build.line = line && !line->empty() ? *line : "unknown";
    build.info = parse_build_line(build.line);
    return build;
}

}  // namespace ptrun
