// Runs the workload exactly as the first run of pt does, without timing it,
// and reports a digest of the whole workload state after the set-up and after
// every work unit. Optionally writes the raw state frames to a file. With
// --profile it times and counts each module's part of the work units instead.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

void usage() {
    std::fputs(
        "Usage: ptverify [--units K] [--runs R] [--dump FILE]\n"
        "       ptverify --profile [--units K] [--warmup-units W] [--seconds S]\n"
        "       ptverify --version\n"
        "  --units K         work units per run (default 3; measured units with --profile, default 1000)\n"
        "  --runs R          runs, at least 1, each with its own set-up and database release (default 1)\n"
        "  --dump FILE       also write every state frame to FILE\n"
        "  --profile         time (and count, where the processor's counters can be had) each module's\n"
        "                    part of the units; print one JSON object: milliseconds and counters per unit\n"
        "  --warmup-units W  units run as pt runs them before the measured ones (default 8)\n"
        "  --seconds S       begin no measured unit once S seconds have passed (default: no limit)\n"
        "  --version         print the version, the compiler, the workload's flags and the target\n",
        stderr);
    std::exit(2);
}

long count_argument(const char* text, long low = 0) {
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value < low || value > 1000000) usage();
    return value;
}

double seconds_argument(const char* text) {
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text, &end);
    if (errno != 0 || end == text || *end != '\0' || !(value > 0) || value > 1e6) usage();
    return value;
}

// What was asked for goes to standard output: losing it is a failure.
bool flush_output(const char* what) {
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        std::fprintf(stderr, "ptverify: cannot write %s to standard output: %s\n", what, std::strerror(errno));
        return false;
    }
    return true;
}

int profile(long units, long warmup_units, double seconds) {
    const ProfileSettings settings{warmup_units, units, static_cast<std::uint64_t>(seconds * 1e9), monotonic_ns,
                                   &hardware_counters()};
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

}  // namespace

int main(int argc, char** argv) {
    long units = -1;
    long runs = 1;
    long warmup_units = kDefaultWarmupUnits;
    double seconds = 0;
    bool profiling = false;
    bool profile_option = false;  // one that only a profile takes
    bool verify_option = false;   // one that only the digests take
    const char* dump_name = nullptr;
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("ptverify %s\n", PT_BUILD_DESCRIPTION);
        return flush_output("the version") ? 0 : 1;
    }
    for (int i = 1; i < argc; ++i) {
        const bool has_value = i + 1 < argc;
        if (has_value && std::strcmp(argv[i], "--units") == 0) {
            units = count_argument(argv[++i]);
        } else if (has_value && std::strcmp(argv[i], "--runs") == 0) {
            runs = count_argument(argv[++i], 1);  // no run would check nothing and say nothing
            verify_option = true;
        } else if (has_value && std::strcmp(argv[i], "--dump") == 0) {
            dump_name = argv[++i];
            verify_option = true;
        } else if (std::strcmp(argv[i], "--profile") == 0) {
            profiling = true;
        } else if (has_value && std::strcmp(argv[i], "--warmup-units") == 0) {
            warmup_units = count_argument(argv[++i]);
            profile_option = true;
        } else if (has_value && std::strcmp(argv[i], "--seconds") == 0) {
            seconds = seconds_argument(argv[++i]);
            profile_option = true;
        } else {
            usage();
        }
    }
    // A profile of no unit would measure nothing.
    if ((profiling ? verify_option : profile_option) || (profiling && units == 0)) usage();
    if (profiling) return profile(units < 0 ? kDefaultProfileUnits : units, warmup_units, seconds);
    return verify(units < 0 ? 3 : units, runs, dump_name);
}
