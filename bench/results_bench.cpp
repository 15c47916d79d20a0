// Cost of ptrun's results model at fleet size: reading many hosts' files,
// merging them and drawing the HTML report, which must grow no faster than
// n log n in the runs; and how often the gate fails at a true slowdown of
// exactly its percentage or below, measured by simulation.
//   pt_bench --benchmark_filter=Results   (memory: /usr/bin/time -v on the same)
#include <benchmark/benchmark.h>

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
    doc.call_id = "call-" + std::to_string(host);
    doc.outcome = "completed";
    const std::string id = "host-" + std::to_string(host);
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
        run.call_id = doc.call_id;
        run.host = id;
        run.build = "A";
        run.copies = run.copy = 1;
        run.round = r;
        run.score = score(random);
        run.environment_before = run.environment_after = ptrun::Snapshot{};
        doc.runs.push_back(run);
    }
    doc.calls.push_back({});
    doc.calls.back().call_id = doc.call_id;
    doc.calls.back().host = doc.calls.back().recorded_host = id;
    doc.calls.back().builds["A"] = "A";
    doc.calls.back().outcome = "completed";
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
        ptrun::Document merged = ptrun::merge_documents(sources);
        ptrun::analyse(merged);
        benchmark::DoNotOptimize(ptrun::report_html(merged));
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
