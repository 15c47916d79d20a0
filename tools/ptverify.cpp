// Runs the workload exactly as the first run of pt does, without timing it,
// and reports a digest of the whole workload state after the set-up and after
// every work unit. Optionally writes the raw state frames to a file.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "build_info.h"
#include "driver/state_dump.h"
#include "driver/work_unit.h"
#include "workload/workload.h"
#include "modules/database/database.h"

namespace {

void usage() {
    std::fputs(
        "Usage: ptverify [--units K] [--runs R] [--dump FILE]\n"
        "       ptverify --version\n"
        "  --units K    work units per run (default 3)\n"
        "  --runs R     runs, at least 1, each with its own set-up and database release (default 1)\n"
        "  --dump FILE  also write every state frame to FILE\n"
        "  --version    print the version, the compiler, the workload's flags and the target\n",
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

}  // namespace

int main(int argc, char** argv) {
    long units = 3;
    long runs = 1;
    const char* dump_name = nullptr;
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("ptverify %s\n", PT_BUILD_DESCRIPTION);
        return std::fflush(stdout) == 0 && std::ferror(stdout) == 0 ? 0 : 1;
    }
    for (int i = 1; i < argc; ++i) {
        if (i + 1 < argc && std::strcmp(argv[i], "--units") == 0) {
            units = count_argument(argv[++i]);
        } else if (i + 1 < argc && std::strcmp(argv[i], "--runs") == 0) {
            runs = count_argument(argv[++i], 1);  // no run would check nothing and say nothing
        } else if (i + 1 < argc && std::strcmp(argv[i], "--dump") == 0) {
            dump_name = argv[++i];
        } else {
            usage();
        }
    }

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
    // The digests are what was asked for: losing them is a failure.
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        std::fprintf(stderr, "ptverify: cannot write the digests to standard output: %s\n", std::strerror(errno));
        return 1;
    }
    return 0;
}
