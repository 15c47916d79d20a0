// Cost of `ptrun history` at fleet size: hosts x nightly calls of 3 rounds,
// one results file per call as the fleet recipes collect them, read from a
// folder, grouped into series, searched for change points and written as
// JSON. 10x the calls should cost at most about 10x the time; memory stays
// a small multiple of the files' size (measure it with /usr/bin/time -v on a
// --benchmark_filter of one size).
//   pt_bench --benchmark_filter=History
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "ptrun/commands/commands.h"
#include "ptrun/decide/analyse.h"
#include "ptrun/model/writer.h"

namespace {

// One host's call on the given night, as a call of ptrun writes it: the
// machine, the build and 3 rounds with the processors' state around each.
std::string call_file(int host, int night, std::mt19937& random) {
    std::normal_distribution<double> score(1000, 20);
    ptrun::Document doc;
    const std::string id = "host-" + std::to_string(host);
    ptrun::CallRecord& call = doc.calls.emplace_back();
    call.call_id = "call-" + std::to_string(host) + "-" + std::to_string(night);
    call.outcome = "completed";
    call.host = call.recorded_host = id;
    call.builds["A"] = "A";
    char started[32];  // 28 days a month, so that the nights run in the order of their dates
    std::snprintf(started, sizeof started, "%04d-%02d-%02dT02:00:00Z", 2026 + night / 336, 1 + night / 28 % 12,
                  1 + night % 28);
    call.started_utc = call.ended_utc = started;
    ptrun::Machine machine;
    machine.processor = "Processor " + std::to_string(host % 7);
    machine.kernel = night < 50 ? "Linux 6.1.0-18" : "Linux 6.1.0-21";
    machine.environment.microcode = "0xa";
    doc.hosts.push_back({id, id, std::nullopt, machine, true});
    ptrun::Build build;
    build.id = "A";
    build.path = "/opt/pt/bin/pt";
    build.sha256 = std::string(64, 'a');
    build.line = "version 1.0 for x86_64-linux-gnu, built by GCC 12.2.0 with -O2";
    build.validated = true;
    doc.builds.push_back(build);
    ptrun::Snapshot snapshot;
    snapshot.cpus.push_back({0, "performance", 3000000, 800000, 3500000});
    snapshot.temperatures_c = {{"Package id 0", 45}};
    for (int r = 1; r <= 3; ++r) {
        ptrun::RunRecord run;
        run.call_id = call.call_id;
        run.host = id;
        run.build = "A";
        run.copies = run.copy = 1;
        run.round = r;
        run.started_utc = run.ended_utc = call.started_utc;
        run.score = score(random) * (host == 0 && night >= 50 ? 0.95 : 1);
        run.environment_before = run.environment_after = snapshot;
        doc.runs.push_back(run);
    }
    ptrun::analyse(doc);
    return ptrun::dump(doc);
}

void BM_HistoryOfAFleet(benchmark::State& state) {
    const int hosts = static_cast<int>(state.range(0)), nights = static_cast<int>(state.range(1));
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("pt-history-bench-" + std::to_string(getpid()));
    std::mt19937 random(1);
    std::uintmax_t bytes = 0;
    for (int h = 0; h < hosts; ++h) {
        fs::create_directories(dir / ("host-" + std::to_string(h)));
        for (int n = 0; n < nights; ++n) {
            const std::string text = call_file(h, n, random);
            std::ofstream(dir / ("host-" + std::to_string(h)) / ("night-" + std::to_string(n) + ".json")) << text;
            bytes += text.size();
        }
    }
    // The files just written are on their way to the disk: the kernel's
    // writing them back is the set-up's cost, not the reading's.
    ::sync();
    const std::string out = (dir / "history.json").string();
    const ptrun::Arguments arguments{{}, {dir.string(), "--format", "json", "-o", out}};
    for (auto _ : state) {
        if (ptrun::history_command(arguments) != 0) {
            state.SkipWithError("ptrun history failed");
        }
    }
    state.counters["files"] = hosts * nights;
    state.counters["files_MB"] = static_cast<double>(bytes) / 1e6;
    fs::remove_all(dir);
}
BENCHMARK(BM_HistoryOfAFleet)
    ->ArgNames({"hosts", "calls"})
    ->Args({100, 100})
    ->Args({10, 100})
    ->Args({10, 1000})
    ->Args({100, 1000})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

}  // namespace
