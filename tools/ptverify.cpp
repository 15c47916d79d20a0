// Runs the workload exactly as the first run of pt does, without timing it,
// and reports a digest of the whole workload state after the set-up and after
// every work unit. Optionally writes the raw state frames to a file. With
// --profile it times and counts each module's part of the work units instead.
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "build_info.h"
#include "driver/profile.h"
#include "driver/state_dump.h"
#include "driver/work_unit.h"
#include "workload/workload.h"
#include "modules/database/database.h"

namespace {

// A unit's work is the same from the second on (within 0.3 % of its
// instructions), so the warm-up only has to fill the caches and predictors
// as pt's timed section finds them; a thousand measured units take about a
// second here, a few per cent of a pt run (docs/measurements.md).
constexpr long kDefaultWarmupUnits = 8;
constexpr long kDefaultProfileUnits = 1000;

constexpr long kMostUnits = 1000000;
constexpr double kMostSeconds = 1e6;

const char* const kHelp =
    "Usage: ptverify [--units K] [--runs R] [--dump FILE]\n"
    "       ptverify --profile [--units K] [--warmup-units W] [--seconds S]\n"
    "       ptverify --version | --help\n"
    "  --units K         work units per run (default 3; measured units with --profile, default 1000)\n"
    "  --runs R          runs, at least 1, each with its own set-up and database release (default 1)\n"
    "  --dump FILE       also write every state frame to FILE\n"
    "  --profile         time (and count, where the processor's counters can be had) each module's\n"
    "                    part of the units; print one JSON object: milliseconds and counters per unit\n"
    "  --warmup-units W  units run as pt runs them before the measured ones (default 8)\n"
    "  --seconds S       begin no measured unit once S seconds have passed (default: no limit);\n"
    "                    S above 0, rounded up to the clock's whole nanoseconds\n"
    "  --version         print the version, the compiler, the workload's flags and the target\n"
    "  --help            print this help\n"
    "Exit status:\n"
    "  0  the units ran and everything asked for was printed\n"
    "  1  the set-up failed, or the dump or standard output could not be written\n"
    "  2  a bad command line\n";

// One line that names what is wrong, so that a script's log says it; the
// help is one command away rather than a screenful in the log.
[[noreturn]] void refuse(const std::string& fault) {
    std::fprintf(stderr, "ptverify: %s (ptverify --help lists the options)\n", fault.c_str());
    std::exit(2);
}

long count_argument(const char* option, const char* text, long low) {
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value < low || value > kMostUnits) {
        refuse(std::string(option) + ": \"" + text + "\" is not a whole number from " + std::to_string(low) +
               " to " + std::to_string(kMostUnits));
    }
    return value;
}

// The profile's clock counts nanoseconds, and a budget of 0 means no limit.
// A positive S below a nanosecond still asks for a limit, so it is rounded
// up, never down to 0: any S shorter than a unit (about a millisecond)
// measures exactly one unit, which is what so short a limit can mean.
std::uint64_t budget_ns(const char* text) {
    char* end = nullptr;
    errno = 0;
    double seconds = std::strtod(text, &end);
    if (errno == ERANGE && std::fabs(seconds) < 1) {  // too small for a double (1e-400), yet not 0
        errno = 0;
        if (!std::signbit(seconds)) seconds = DBL_MIN;
    }
    if (errno != 0 || end == text || *end != '\0' || !(seconds > 0) || seconds > kMostSeconds) {
        refuse(std::string("--seconds: \"") + text + "\" is not a number of seconds above 0 and at most 1e+06");
    }
    return static_cast<std::uint64_t>(std::ceil(seconds * 1e9));
}

// What was asked for goes to standard output: losing it is a failure.
bool flush_output(const char* what) {
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        std::fprintf(stderr, "ptverify: cannot write %s to standard output: %s\n", what, std::strerror(errno));
        return false;
    }
    return true;
}

int profile(long units, long warmup_units, std::uint64_t budget) {
    const ProfileSettings settings{warmup_units, units, budget, monotonic_ns, &hardware_counters()};
    const Profile result = profile_work_units(settings);
    if (result.setup_status != 0) {
        std::fprintf(stderr, "ptverify: set-up returned %d\n", result.setup_status);
        return 1;
    }
    std::fputs(profile_json(result, "ptverify " PT_BUILD_DESCRIPTION).c_str(), stdout);
    return flush_output("the profile") ? 0 : 1;
}

int verify(long units, long runs, const char* dump_name) {
    FILE* dump = nullptr;
    if (dump_name != nullptr) {
        dump = std::fopen(dump_name, "wb");
        if (dump == nullptr) {
            std::fprintf(stderr, "ptverify: cannot create %s: %s\n", dump_name, std::strerror(errno));
            return 1;
        }
    }

    std::vector<unsigned char> frame;
    frame.reserve(kStateFrameSize);
    auto report = [&](long run, const char* point, long unit) {
        frame.clear();
        append_state_frame(frame);
        const unsigned long long digest = frame_digest(frame.data(), frame.size());
        if (unit > 0) {
            std::printf("run %ld %s %ld %016llx\n", run, point, unit, digest);
        } else {
            std::printf("run %ld %s %016llx\n", run, point, digest);
        }
        if (dump != nullptr && std::fwrite(frame.data(), 1, frame.size(), dump) != frame.size()) {
            std::fprintf(stderr, "ptverify: cannot write %s\n", dump_name);
            std::exit(1);
        }
    };

    for (long run = 1; run <= runs; ++run) {
        const std::int32_t status = setup_workload();
        if (status != 0) {
            std::fprintf(stderr, "ptverify: set-up returned %d\n", status);
            return 1;
        }
        report(run, "setup", 0);
        for (long unit = 1; unit <= units; ++unit) {
            run_work_unit();
            report(run, "unit", unit);
        }
        db_release();
    }

    if (dump != nullptr && std::fclose(dump) != 0) {
        std::fprintf(stderr, "ptverify: cannot write %s\n", dump_name);
        return 1;
    }
    return flush_output("the digests") ? 0 : 1;
}

struct Settings {
    long units = -1;
    long runs = 1;
    long warmup_units = kDefaultWarmupUnits;
    std::uint64_t budget = 0;  // nanoseconds, 0 for no limit
    bool profiling = false;
    const char* dump_name = nullptr;
    const char* profile_option = nullptr;  // the first one only a profile takes
    const char* verify_option = nullptr;   // the first one only the digests take
};

// The options that take a value, and what the help calls it.
struct ValueOption {
    const char* name;
    const char* value;
};
constexpr ValueOption kValueOptions[] = {
    {"--units", "K"}, {"--runs", "R"}, {"--dump", "FILE"}, {"--warmup-units", "W"}, {"--seconds", "S"},
};

void take_value(Settings& settings, const std::string& option, const char* value) {
    if (option == "--units") {
        settings.units = count_argument("--units", value, 0);
    } else if (option == "--runs") {
        settings.runs = count_argument("--runs", value, 1);  // no run would check nothing and say nothing
        if (settings.verify_option == nullptr) settings.verify_option = "--runs";
    } else if (option == "--dump") {
        settings.dump_name = value;
        if (settings.verify_option == nullptr) settings.verify_option = "--dump";
    } else if (option == "--warmup-units") {
        settings.warmup_units = count_argument("--warmup-units", value, 0);
        if (settings.profile_option == nullptr) settings.profile_option = "--warmup-units";
    } else {
        settings.budget = budget_ns(value);
        if (settings.profile_option == nullptr) settings.profile_option = "--seconds";
    }
}

Settings parse_arguments(int argc, char** argv) {
    Settings settings;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help") {
            std::fputs(kHelp, stdout);
            std::exit(flush_output("the help") ? 0 : 1);
        }
        if (arg == "--profile") {
            settings.profiling = true;
            continue;
        }
        if (arg == "--version") refuse("--version takes no other argument");
        const ValueOption* option = nullptr;
        for (const ValueOption& known : kValueOptions) {
            if (arg == known.name) option = &known;
        }
        if (option == nullptr && (arg.empty() || arg[0] != '-')) refuse("unexpected argument " + arg);
        if (option == nullptr) refuse("unknown option " + arg);
        if (i + 1 == argc) refuse(arg + " needs its value " + option->value);
        take_value(settings, arg, argv[++i]);
    }
    if (settings.profiling && settings.verify_option != nullptr) {
        refuse(std::string("--profile takes no ") + settings.verify_option);
    }
    if (!settings.profiling && settings.profile_option != nullptr) {
        refuse(std::string(settings.profile_option) + " is taken only with --profile");
    }
    // A profile of no unit would measure nothing.
    if (settings.profiling && settings.units == 0) refuse("--profile measures at least one unit: --units 0");
    return settings;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("ptverify %s\n", PT_BUILD_DESCRIPTION);
        return flush_output("the version") ? 0 : 1;
    }
    const Settings settings = parse_arguments(argc, argv);
    if (settings.profiling) {
        return profile(settings.units < 0 ? kDefaultProfileUnits : settings.units, settings.warmup_units,
                       settings.budget);
    }
    return verify(settings.units < 0 ? 3 : settings.units, settings.runs, settings.dump_name);
}
