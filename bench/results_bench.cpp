// Cost of ptrun's results model at fleet size: reading many hosts' files,
// merging them and drawing the HTML report, which must grow no faster than
// n log n in the runs; and how often the gate fails at a true slowdown of
// exactly its percentage or below, measured by simulation.
//   pt_bench --benchmark_filter=Results   (memory: /usr/bin/time -v on the same)
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "ptrun/decide/comparisons.h"
#include "ptrun/decide/gate.h"
#include "ptrun/model/merge.h"
#include "ptrun/decide/analyse.h"
#include "ptrun/model/model.h"
#include "ptrun/model/reader.h"
#include "ptrun/model/writer.h"
#include "ptrun/present/formats.h"

namespace {

// The results file of one host's call: one build, `rounds` rounds of one copy.
std::string host_file(int host, int rounds, std::mt19937& random) {
    std::normal_distribution<double> score(1000, 20);
    ptrun::Document doc;
    const std::string id = "host-" + std::to_string(host);
    ptrun::CallRecord& call = doc.calls.emplace_back();
    call.call_id = "call-" + std::to_string(host) + "-0123456789abcdef";
    call.outcome = "completed";
    call.host = call.recorded_host = id;
    call.builds["A"] = "A";
    ptrun::Machine machine;
    machine.processor = "Processor " + std::to_string(host % 7);
    machine.kernel = "Linux 6.1";
    doc.hosts.push_back({id, id, std::nullopt, machine, true});
    ptrun::Build build;
    build.id = "A";
    build.path = "/usr/bin/pt";
    build.sha256 = std::string(64, 'a');
    build.validated = true;
    doc.builds.push_back(build);
    for (int r = 1; r <= rounds; ++r) {
        ptrun::RunRecord run;
        run.call_id = call.call_id;
        run.host = id;
        run.build = "A";
        run.copies = run.copy = 1;
        run.round = r;
        run.score = score(random);
        run.environment_before = run.environment_after = ptrun::Snapshot{};
        doc.runs.push_back(run);
    }
    ptrun::analyse(doc);
    return ptrun::dump(doc);
}

// Reads every file, merges them and writes the HTML report: what
// `ptrun report --format html` does with a fleet's files.
void BM_ResultsMergeAndHtml(benchmark::State& state) {
    std::mt19937 random(1);
    std::vector<std::string> files;
    std::size_t bytes = 0;
    for (int h = 0; h < state.range(0); ++h) {
        files.push_back(host_file(h, static_cast<int>(state.range(1)), random));
        bytes += files.back().size();
    }
    for (auto _ : state) {
        std::vector<ptrun::Source> sources;
        for (const std::string& text : files) {
            std::string error;
            sources.push_back({"f", *ptrun::parse_results(text, "f", error)});
        }
        ptrun::Document merged = ptrun::merge_documents(std::move(sources));
        ptrun::analyse(merged);
        benchmark::DoNotOptimize(ptrun::find_format("html")->report(merged));
    }
    state.counters["runs"] = static_cast<double>(state.range(0) * state.range(1));
    state.counters["file_MB"] = static_cast<double>(bytes) / 1e6;
}
BENCHMARK(BM_ResultsMergeAndHtml)
    ->Args({100, 100})
    ->Args({1000, 100})
    ->Args({10000, 100})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// One file of `runs` runs written as short as the schema allows (about 105
// bytes a run, as a long call's file or a merge of many is), once per size.
std::string big_file(long runs) {
    const std::string path = "/tmp/pt_bench_results_" + std::to_string(runs) + ".json";
    if (std::ifstream(path)) return path;
    std::mt19937 random(3);
    std::normal_distribution<double> score(1000, 20);
    std::ofstream out(path + ".part");
    out << R"({"schema_version": 2, "call_id": "0123456789abcdef", "outcome": "completed", )"
        << R"("host": {"id": "h", "hostname": "h"}, "builds": [{"id": "A", "path": "/pt", "sha256": "s"}], "runs": [)";
    for (long r = 1; r <= runs; ++r) {
        char line[160];
        std::snprintf(line, sizeof line,
                      "%s\n{\"copies\": 1, \"round\": %ld, \"copy\": 1, \"cpu\": 0, \"score\": %.6f, "
                      "\"wall_s\": 41.25, \"share\": 0.9981}",
                      r == 1 ? "" : ",", r, score(random));
        out << line;
    }
    out << "]}\n";
    out.close();
    std::rename((path + ".part").c_str(), path.c_str());
    return path;
}

// `ptrun merge -o OUT FILE` on one file of many runs: read, merge, analyse,
// written to a file. Growth must be linear; memory (peak RSS: run alone under
// /usr/bin/time -v with --benchmark_filter=ResultsMergeFile/1000000/) under
// five times the file; what is written (out_MB) small enough to be read
// again (256 MiB).
void BM_ResultsMergeFile(benchmark::State& state) {
    const std::string in = big_file(state.range(0)), out = in + ".merged";
    for (auto _ : state) {
        std::string error;
        std::optional<std::vector<ptrun::Source>> sources = ptrun::load_all({in}, error);
        if (!sources) {
            state.SkipWithError(error.c_str());
            return;
        }
        ptrun::Document merged = ptrun::merge_documents(std::move(*sources));
        ptrun::analyse(merged);  // as ptrun merge does
        std::FILE* file = std::fopen(out.c_str(), "w");
        ptrun::write_results(merged, [file](const std::string& text) {
            std::fwrite(text.data(), 1, text.size(), file);
        });
        std::fclose(file);
    }
    std::ifstream size(in, std::ios::ate | std::ios::binary), written(out, std::ios::ate | std::ios::binary);
    state.counters["file_MB"] = static_cast<double>(size.tellg()) / 1e6;
    state.counters["out_MB"] = static_cast<double>(written.tellg()) / 1e6;
    std::remove(out.c_str());
}
BENCHMARK(BM_ResultsMergeFile)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(1);

// How often --fail-above PCT fails at 10 against 10 rounds with a CV of 2 %
// when B is truly slower by `slowdown` percent (tenths), in the usual and
// the strict form: the figures the manual quotes.
void BM_ResultsGateFalseAlarms(benchmark::State& state) {
    const double slowdown = static_cast<double>(state.range(0)) / 10, percent = 2;
    constexpr int kTrials = 4000;
    std::mt19937 random(7);
    std::normal_distribution<double> noise(0, 0.02);
    int usual = 0, strict = 0;
    for (auto _ : state) {
        usual = strict = 0;
        for (int t = 0; t < kTrials; ++t) {
            std::vector<double> a(10), b(10);
            for (double& x : a) x = 1000 * (1 + noise(random));
            for (double& x : b) x = 1000 * (1 - slowdown / 100) * (1 + noise(random));
            ptrun::ComparisonEntry entry;
            entry.figures = ptrun::compare_samples(a, b);
            usual += ptrun::gate(entry.figures, percent, false) == ptrun::Gate::fail ? 1 : 0;
            strict += ptrun::gate(entry.figures, percent, true) == ptrun::Gate::fail ? 1 : 0;
        }
    }
    state.counters["fails_usual_pct"] = 100.0 * usual / kTrials;
    state.counters["fails_strict_pct"] = 100.0 * strict / kTrials;
}
BENCHMARK(BM_ResultsGateFalseAlarms)->Arg(0)->Arg(10)->Arg(20)->Arg(40)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
