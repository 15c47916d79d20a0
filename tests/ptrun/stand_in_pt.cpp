// Stands in for pt in the tests of ptrun: does at once what the plan file
// named by PT_STAND_IN_PLAN says for this call (one line per call, in the
// order of the calls), and notes its pid and its processors in the log.
//   <score>          writes the score as the Result
//   warn <score>     also prints pt's speed warning on standard error
//   idle <score>     sleeps a second first (a processor share near 0)
//   spew <n> <score> also prints n notes on standard error
//   quiet            exits 0 without a result
//   error <text>     writes the Error and exits with 255
//   hang             waits until it is ended
//   raw <text>       writes text as the Result, as it is
//   pad <n> <score>  writes the score as the Result and a comment of n bytes
#include <sched.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

int main(int argc, char** argv) {
    const char* plan_name = std::getenv("PT_STAND_IN_PLAN");
    if (argc != 2 || plan_name == nullptr) return 2;
    const std::string plan = plan_name;

    // The calls of one round start together: take the next line under a lock.
    std::FILE* log = std::fopen((plan + ".log").c_str(), "a+");
    if (log == nullptr || flock(fileno(log), LOCK_EX) != 0) return 3;
    int calls = 0;
    std::rewind(log);
    for (int c; (c = std::fgetc(log)) != EOF;) calls += c == '\n';
    std::ifstream lines(plan);
    std::string line;
    for (int i = 0; i <= calls && std::getline(lines, line); ++i) {
    }
    cpu_set_t set;
    CPU_ZERO(&set);
    sched_getaffinity(0, sizeof set, &set);
    std::string cpus;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
        if (CPU_ISSET(cpu, &set)) cpus += (cpus.empty() ? "" : ",") + std::to_string(cpu);
    }
    std::fprintf(log, "%d %s\n", static_cast<int>(getpid()), cpus.c_str());
    std::fclose(log);

    const std::string action = line.substr(0, line.find(' '));
    std::string rest = line.find(' ') == std::string::npos ? "" : line.substr(line.find(' ') + 1);
    std::ofstream result(argv[1]);
    if (action == "hang") {
        for (;;) pause();
    } else if (action == "error") {
        result << "[Test]\nError=" << rest << "\n";
        return 255;
    } else if (action == "warn") {
        std::fputs("pt: warning: speed changed during the run: a work unit took 9.9 % more time\n", stderr);
    } else if (action == "idle") {
        sleep(1);
    } else if (action == "spew") {
        for (int i = 0, n = std::atoi(rest.c_str()); i < n; ++i) std::fprintf(stderr, "pt: note: %d of many\n", i);
        rest = rest.substr(rest.find(' ') + 1);
    } else if (action == "quiet") {
        return 0;
    } else if (action == "raw") {
        result << "[Test]\nResult=" << rest << "\n";
        return 0;
    } else if (action == "pad") {
        result << "[Test]\nResult=" << rest.substr(rest.find(' ') + 1) << "\n;" << std::string(std::stoul(rest), 'x')
               << "\n";
        return 0;
    }
    result << "[Test]\nResult=" << (rest.empty() ? action : rest) << " \n";
    return 0;
}
