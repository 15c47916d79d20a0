#include "commands/spec.h"

#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include "system/host.h"
#include "system/output.h"

namespace ptrun {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void usage(std::FILE* to, int code) {
    std::fputs("Usage: ptrun [OPTION]...\n"
               "       ptrun compare A.json B.json [--fail-above PCT]\n"
               "  --runs N             rounds per copy count (default 3, at most 100)\n"
               "  --copies LIST        copy counts, e.g. 1,2 or 1,all (default 1; all = one per processor)\n"
               "  --cpus LIST          processors to pin the copies to, e.g. 0 or 0,2-3 (default: all ptrun may use)\n"
               "  --pt PATH            the pt to run (default: the one beside ptrun); twice or more: interleaved\n"
               "  --order abba|random  the order of the builds' rounds with two or more --pt (default abba)\n"
               "  --seed N             the seed of --order random (default: a new one, recorded)\n"
               "  --warmup-rounds K    rounds run first and left out of the figures (default 0)\n"
               "  --until-cv PCT       add rounds until the spread is at most PCT (needs --max-runs or --max-time)\n"
               "  --max-runs N         at most N rounds per copy count and build under --until-cv\n"
               "  --max-time DURATION  start no round after DURATION (e.g. 30m) under --until-cv\n"
               "  --timeout SECONDS    end a copy that runs longer and count it as failed (default 600)\n"
               "  --label TEXT         name this host in the results\n"
               "  --allow-unvalidated  run a build whose work differs from the defined work, marked so\n"
               "  --json FILE          also write every figure to FILE (- for standard output)\n"
               "  --keep DIR           keep the result files and pt's messages in DIR\n",
               to);
    std::exit(std::fflush(to) == 0 && std::ferror(to) == 0 ? code : 1);
}

std::vector<int> parse_cpus(const std::string& text) {
    const std::vector<int> usable = usable_processors();
    std::vector<int> cpus;
    for (const std::string& part : split(text, ',')) {
        const std::vector<std::string> range = split(part, '-');
        const std::optional<long> first = whole_number(range[0]);
        const std::optional<long> last = range.size() == 2 ? whole_number(range[1]) : first;
        if (range.size() > 2 || !first || !last || *first > *last) usage_error("bad processor list \"" + text + "\"");
        for (long cpu = *first; cpu <= *last; ++cpu) {
            if (std::find(usable.begin(), usable.end(), cpu) == usable.end()) {
                usage_error("processor " + std::to_string(cpu) + " is not online or not available to ptrun");
            }
            if (std::find(cpus.begin(), cpus.end(), cpu) != cpus.end()) {
                usage_error("processor " + std::to_string(cpu) + " is listed twice");
            }
            cpus.push_back(static_cast<int>(cpu));
        }
    }
    return cpus;
}

std::vector<int> parse_copies(const std::string& text, int processors) {
    std::vector<int> copies;
    std::vector<std::string> named;
    for (const std::string& part : split(text, ',')) {
        const std::optional<long> count = part == "all" ? std::optional<long>(processors) : whole_number(part);
        if (!count || *count < 1 || *count > kMaxCopies) {
            usage_error("bad copy count \"" + part + "\": a number from 1 to " + std::to_string(kMaxCopies) +
                        ", or all");
        }
        const std::string name = part == "all" ? part : std::to_string(*count);
        if (std::find(named.begin(), named.end(), name) != named.end()) {
            usage_error("copy count " + name + " is given twice");
        }
        named.push_back(name);
        // 1,all on one processor is one plan, not a mistake: a count that
        // all also stands for is run once.
        if (std::find(copies.begin(), copies.end(), *count) == copies.end()) copies.push_back(static_cast<int>(*count));
    }
    return copies;
}

std::string own_directory() {
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    return error ? std::string(".") : self.parent_path().string();
}

// pt beside ptrun when installed, or in the build tree's src/.
std::string default_pt() {
    const std::string dir = own_directory();
    for (const std::string& candidate : {dir + "/pt", dir + "/../src/pt"}) {
        if (is_executable_file(candidate)) return candidate;
    }
    usage_error("no pt found beside ptrun (" + dir + "/pt): name it with --pt");
}

// Finds out now, not after minutes of runs, whether FILE can be written.
void check_writable(const std::string& file) {
    Target target;
    std::string error;
    if (!resolve_target(file, target, error)) usage_error(error);
}

// Why the kernel would not start path (empty when it would): a program, or a
// script whose interpreter is there. Found out without running it.
std::string start_problem(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string head(256, '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<std::size_t>(in.gcount()));
    if (head.rfind("\x7f" "ELF", 0) == 0) return "";
    if (head.rfind("#!", 0) != 0) return "pt at " + path + " is neither a program nor a script: it cannot be started";
    const std::string line = head.substr(2, head.find('\n') - 2);
    const std::size_t from = line.find_first_not_of(" \t");
    const std::string interpreter =
        from == std::string::npos ? "" : line.substr(from, line.find_first_of(" \t\r", from) - from);
    if (!is_executable_file(interpreter)) {
        return "pt at " + path + " cannot be started: its interpreter \"" + interpreter + "\" is not a program";
    }
    return "";
}

int count_option(const std::string& option, const std::string& value, long low, long high) {
    const std::optional<long> count = whole_number(value);
    if (!count || *count < low || *count > high) {
        usage_error("bad " + option + " \"" + value + "\": a number from " + std::to_string(low) + " to " +
                    std::to_string(high));
    }
    return static_cast<int>(*count);
}

}  // namespace

[[noreturn]] void usage_error(const std::string& message) {
    std::fprintf(stderr, "ptrun: %s (ptrun --help lists the options)\n", message.c_str());
    std::exit(2);
}

std::optional<long> whole_number(const std::string& text) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    return std::strtol(text.c_str(), nullptr, 10);
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t at = 0;
    for (std::size_t next; (next = text.find(separator, at)) != std::string::npos; at = next + 1) {
        parts.push_back(text.substr(at, next - at));
    }
    parts.push_back(text.substr(at));
    return parts;
}

std::string temporary_base() {
    std::string error;
    const std::string base = temporary_base(error);
    if (base.empty()) usage_error(error);
    return base;
}

std::optional<double> parse_duration(const std::string& text) {
    if (text.empty()) return std::nullopt;
    double scale = 1;
    std::string digits = text;
    switch (text.back()) {
        case 's': scale = 1; digits.pop_back(); break;
        case 'm': scale = 60; digits.pop_back(); break;
        case 'h': scale = 3600; digits.pop_back(); break;
        default: break;
    }
    const std::optional<long> count = whole_number(digits);
    if (!count || *count < 1) return std::nullopt;
    return static_cast<double>(*count) * scale;
}

namespace {

// The order of two or more builds: ABBA unless asked otherwise, and a new
// seed, recorded, so that a shuffled order can be run again.
void settle_order(Settings& settings, bool order_given) {
    if (settings.pts.size() > 1) {
        if (!order_given) settings.order = "abba";
        if (settings.order != "random" && settings.seed) {
            usage_error("--seed is the seed of --order random: give --order random too, or leave --seed out");
        }
        if (settings.order == "random" && !settings.seed) settings.seed = std::random_device{}() % 1000000000u;
    } else if (order_given || settings.seed) {
        usage_error("--order and --seed choose the order of two or more builds (--pt A --pt B)");
    }
}

// Every file and folder the call will use, checked before anything runs.
void check_paths(Settings& settings) {
    for (std::string& pt : settings.pts) {
        if (!is_executable_file(pt)) usage_error("no executable pt at " + pt);
        if (const std::string problem = start_problem(pt); !problem.empty()) usage_error(problem);
        pt = fs::canonical(pt).string();
    }
    if (!settings.json.empty()) check_writable(settings.json);
    if (settings.keep.empty()) temporary_base();
    if (!settings.keep.empty()) {
        std::error_code error;
        fs::create_directories(settings.keep, error);
        if (!fs::is_directory(settings.keep) || access(settings.keep.c_str(), W_OK | X_OK) != 0) {
            usage_error("cannot keep the files in " + settings.keep);
        }
        settings.keep = fs::canonical(settings.keep).string();
    }
}

}  // namespace

Settings parse_command_line(int argc, char** argv) {
    Settings settings;
    for (int i = 0; i < argc; ++i) settings.command_line.emplace_back(argv[i]);
    std::string copies = "1";
    std::string cpus;
    bool order_given = false;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--help" || option == "-h") usage(stdout, 0);
        if (option == "--allow-unvalidated") {
            settings.allow_unvalidated = true;
            continue;
        }
        if (i + 1 >= argc) usage_error("unknown option or missing value: " + option);
        const std::string value = argv[++i];
        if (option == "--runs") {
            settings.runs = count_option(option, value, 1, kMaxRuns);
        } else if (option == "--copies") {
            copies = value;
        } else if (option == "--cpus") {
            cpus = value;
        } else if (option == "--pt") {
            settings.pts.push_back(value);
        } else if (option == "--json") {
            settings.json = value;
        } else if (option == "--keep") {
            settings.keep = value;
        } else if (option == "--label") {
            settings.label = value;
        } else if (option == "--warmup-rounds") {
            settings.warmup_rounds = count_option(option, value, 0, kMaxRuns);
        } else if (option == "--max-runs") {
            settings.max_runs = count_option(option, value, 1, kMaxRuns);
        } else if (option == "--until-cv") {
            char* end = nullptr;
            const double cv = std::strtod(value.c_str(), &end);
            if (end == value.c_str() || *end != '\0' || !std::isfinite(cv) || cv <= 0 || cv >= 100) {
                usage_error("bad --until-cv \"" + value + "\": a percentage above 0 and below 100");
            }
            settings.until_cv = cv;
        } else if (option == "--max-time" || option == "--timeout") {
            const std::optional<double> seconds = parse_duration(value);
            if (!seconds) usage_error("bad " + option + " \"" + value + "\": a duration such as 600, 90s, 30m or 2h");
            (option == "--timeout" ? settings.timeout_s : settings.max_time_s) = *seconds;
        } else if (option == "--order") {
            if (value != "abba" && value != "random") usage_error("bad --order \"" + value + "\": abba or random");
            settings.order = value;
            order_given = true;
        } else if (option == "--seed") {
            settings.seed = static_cast<unsigned>(count_option(option, value, 0, 999999999));
        } else {
            usage_error("unknown option " + option);
        }
    }
    if (settings.until_cv && settings.max_runs == 0 && settings.max_time_s == 0) {
        usage_error("--until-cv needs a bound: --max-runs N or --max-time DURATION");
    }
    if (!settings.until_cv && (settings.max_runs != 0 || settings.max_time_s != 0)) {
        usage_error("--max-runs and --max-time bound --until-cv; without it --runs sets the rounds");
    }
    settings.cpus = cpus.empty() ? usable_processors() : parse_cpus(cpus);
    settings.copies = parse_copies(copies, static_cast<int>(settings.cpus.size()));
    if (settings.pts.empty()) settings.pts.push_back(default_pt());
    if (settings.pts.size() > static_cast<std::size_t>(kMaxBuilds)) {
        usage_error("at most " + std::to_string(kMaxBuilds) + " builds in one call");
    }
    settle_order(settings, order_given);
    check_paths(settings);
    return settings;
}

}  // namespace ptrun
