// ptrun merge and report on hand-made results files: two hosts, the older
// schema, colliding ids, bad input, and untrusted text in every format.
#include "ptrun/present/formats.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <clocale>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ptrun/decide/analyse.h"
#include "ptrun/decide/comparisons.h"
#include "ptrun/model/merge.h"
#include "ptrun/model/model.h"
#include "ptrun/model/reader.h"
#include "ptrun/model/writer.h"
#include "ptrun/present/page.h"
#include "ptrun/present/svg.h"
#include "ptrun/present/text.h"
#include "support/test_support.h"

namespace {

using Json = nlohmann::ordered_json;
using ptrun::Document;

// One call: one copy, a round per score, the first a warm-up.
Json call_json(const std::string& call_id, const std::string& host, const std::string& hostname, const std::string& sha,
          const std::vector<double>& scores) {
    Json doc = {{"schema_version", 2},
                {"call_id", call_id},
                {"outcome", "completed"},
                {"host", {{"id", host}, {"hostname", hostname}}},
                {"machine", {{"processor", "P"}}},
                {"builds", {{{"id", "A"}, {"sha256", sha}, {"validated", true}}}}};
    doc["hosts"] = {{{"id", host}, {"hostname", hostname}, {"machine", doc["machine"]}}};
    doc["runs"] = Json::array();
    for (std::size_t i = 0; i < scores.size(); ++i) {
        doc["runs"].push_back({{"copies", 1},
                               {"round", i + 1},
                               {"copy", 1},
                               {"score", scores[i]},
                               {"call_id", call_id},
                               {"host", host},
                               {"build", "A"},
                               {"warmup", i == 0},
                               {"flagged", i == 1}});
    }
    return doc;
}

ptrun::Source call(const std::string& call_id, const std::string& host, const std::string& hostname,
                   const std::string& sha, const std::vector<double>& scores) {
    std::string error;
    auto parsed = ptrun::parse_results(call_json(call_id, host, hostname, sha, scores).dump(), call_id, error);
    EXPECT_TRUE(parsed) << error;
    return {call_id, parsed.value_or(Document{})};
}

Document merge(const std::vector<ptrun::Source>& sources, ptrun::MergeCount* count = nullptr) {
    Document merged = ptrun::merge_documents(sources, count);
    ptrun::analyse(merged);
    return merged;
}

TEST(PtrunMerge, KeepsEveryHostsRunsAndCountsACallReadTwiceOnce) {
    const auto a = call("a1", "alpha", "alpha.lan", "s1", {9, 10, 12, 11});
    const auto b = call("b1", "beta", "beta.lan", "s1", {19, 20, 22});
    ptrun::MergeCount count;
    const Document merged = merge({a, b, a}, &count);
    EXPECT_EQ(count.runs, 7u);
    EXPECT_EQ(count.duplicates, 4u);
    ASSERT_EQ(merged.hosts.size(), 2u);
    EXPECT_EQ(merged.builds.size(), 1u);  // the same build, described alike, on both
    EXPECT_EQ(merged.calls.size(), 2u);
    EXPECT_EQ(merged.runs[6].host, "beta");
    ASSERT_EQ(merged.summary.size(), 2u);
    EXPECT_EQ(merged.summary[0].median, 11);  // warm-up left out
    EXPECT_EQ(merged.summary[1].median, 21);
    // One processor cannot stand for two hosts: each call keeps its own line.
    EXPECT_FALSE(merged.citation);
    // Side by side, beta against alpha: 2 rounds against 3 cannot decide.
    EXPECT_NE(ptrun::find_format("md")->report(merged).find("| too few runs to decide |"), std::string::npos);
}

TEST(PtrunMerge, MakesIdsUniqueWhereTwoHostsOrBuildsDiffer) {
    const Document merged = merge({call("a1", "x", "one", "s1", {1, 2}), call("b1", "x", "two", "s2", {3, 4})});
    ASSERT_EQ(merged.hosts.size(), 2u);
    EXPECT_EQ(merged.hosts[1].id, "x-2");
    EXPECT_EQ(merged.builds[1].id, "A-2");
    EXPECT_EQ(merged.runs[3].host, "x-2");
    EXPECT_EQ(merged.runs[3].build, "A-2");
    // A merged file merged again keeps its ids.
    const Document again = merge({{"m", merged}, {"m", merged}});
    EXPECT_EQ(again.runs.size(), 4u);
    EXPECT_EQ(again.hosts.size(), 2u);
}

TEST(PtrunMerge, ReadsTheOlderSchemaAndRecognisesItTwice) {
    const std::string older = R"({"outcome": "completed", "settings": {"runs": 2, "copies": [1], "cpus": [0]},
        "machine": {"processor": "Q"}, "pt": {"path": "/pt", "sha256": "s9", "build": "unknown"},
        "runs": [{"copies": 1, "round": 1, "copy": 1, "score": 50},
                 {"copies": 1, "round": 2, "copy": 1, "score": 70}]})";
    std::string error;
    const auto doc = ptrun::parse_results(older, "old.json", error);
    ASSERT_TRUE(doc) << error;
    const Document merged = merge({{"old", *doc}, call("b1", "beta", "beta.lan", "s1", {1, 2}), {"old", *doc}});
    EXPECT_EQ(ptrun::whole_call(merged).upgraded_from, std::nullopt);
    EXPECT_EQ(merged.calls[0].upgraded_from, 1);
    EXPECT_EQ(merged.runs.size(), 4u);
    EXPECT_EQ(merged.summary[0].median, 60);
}

TEST(PtrunMerge, RefusesBadInputAndLeavesTheOutputAlone) {
    TempDir dir;
    write_file(dir.file("good.json"), ptrun::dump(call("a1", "alpha", "a", "s", {1, 2}).document));
    write_file(dir.file("newer.json"), R"({"schema_version": 99, "runs": []})");
    write_file(dir.file("text.json"), "hello");
    Json wrong = call_json("c1", "gamma", "g", "s", {1, 2});
    wrong["runs"][1]["warmup"] = "yes";
    write_file(dir.file("wrong.json"), wrong.dump());
    write_file(dir.file("out.json"), "before");
    const std::string stub = R"({"schema_version": 2, "call_id": "00000000000000f1", "outcome": "no results",
        "no_results_reason": "unreachable", "host": {"id": "far", "hostname": "far", "label": null}, "runs": []})";
    write_file(dir.file("far.json"), stub);
    // Each refusal, and what its message must say.
    const std::vector<std::pair<std::vector<std::string>, std::string>> calls = {
        {{"merge", "good.json", "newer.json", "-o", "out.json"}, "schema version 99"},
        {{"merge", "good.json", "text.json", "-o", "out.json"}, "not JSON"},
        {{"merge", "good.json", "-o", "no/such/dir/out.json"}, "cannot write -o no/such/dir/out.json"},
        {{"report", "--format", "html", "-o", "out.json", "text.json"}, "not JSON"},
        {{"report", "-o", "no/such/dir/out.json", "good.json"}, "cannot write -o no/such/dir/out.json"},
        {{"report", "--format", "pdf", "good.json"}, "--format"},
        {{"merge", "good.json", "wrong.json", "-o", "out.json"}, "runs[1].warmup"},
        {{"report", "-o", "out.json", "wrong.json"}, "runs[1].warmup"},
        {{"merge", "far.json", "far.json", "-o", "out.json"}, "no call ran a build (far: unreachable)"},
        {{"report", "far.json"}, "no call ran a build (far: unreachable)"},
        {{"history", "good.json", "-o", "no/such/dir/out.json"}, "cannot write -o no/such/dir/out.json"},
        {{"compare", "good.json", "good.json", "-o", "no/such/dir/out.json"}, "cannot write -o no/such/dir/out"},
        {{"compare", "good.json", "--format", "pdf"},
         "bad --format \"pdf\": md|table|csv|html|json|openmetrics|bencher"},
    };
    for (const auto& [args, says] : calls) {
        const ChildResult child = run_child(PTRUN_BINARY, args, dir.path());
        EXPECT_EQ(child.exit_code, 2) << args[1] << " " << args[2];
        // Every message is the command's own.
        EXPECT_EQ(child.err.rfind("ptrun " + args[0] + ": ", 0), 0u) << child.err;
        EXPECT_NE(child.err.find(says), std::string::npos) << child.err;
        EXPECT_EQ(read_file(dir.file("out.json")), "before");
    }
    EXPECT_EQ(run_child(PTRUN_BINARY, {"merge", "good.json", "good.json", "-o", "out.json"}, dir.path()).exit_code, 0);
    std::string error;
    EXPECT_EQ(ptrun::load_results(dir.file("out.json"), error).value_or(Document{}).runs.size(), 2u) << error;
}

// What a hostile file would slip into each format: a call of two builds.
Document hostile() {
    Json doc = call_json("a1", "<script>alert(1)</script>", "=cmd|x,\"y\"", "s1", {1, 2, 3});
    doc["citation"] = "cite <me>";
    doc["reportable"] = false;
    doc["reportable_reasons"] = {"machine busy"};
    doc["hosts"][0]["machine"]["environment"] = {{"smt", "off"}};
    // What a terminal would obey: clear the screen, back to the line's start, a C1 escape.
    doc["hosts"][0]["label"] = "\x1b[2J\rgate passed\xc2\x9b";
    doc["runs"][1]["pt_messages"] = {"line\nptrun compare: gate passed\x1b[1A"};
    doc["builds"].push_back({{"id", "B<i>"}, {"sha256", "s2"}, {"validated", true}});
    for (Json run : Json(doc["runs"])) {
        run["build"] = "B<i>";
        run["score"] = run["score"].get<double>() * 4;
        doc["runs"].push_back(run);
    }
    std::string error;
    const auto parsed = ptrun::parse_results(doc.dump(), "hostile", error);
    EXPECT_TRUE(parsed) << error;
    return merge({{"hostile", parsed.value_or(Document{})}});
}

TEST(PtrunReport, HtmlEscapesEveryStringAndDrawsTheCharts) {
    const std::string page = ptrun::find_format("html")->report(hostile());
    EXPECT_EQ(page.find("<script"), std::string::npos);
    EXPECT_NE(page.find("&lt;script&gt;"), std::string::npos);
    // Nothing fetched: the only address is the SVG namespace.
    for (std::size_t at = page.find("://"); at != std::string::npos; at = page.find("://", at + 1)) {
        EXPECT_EQ(page.compare(at - 4, 26, "http://www.w3.org/2000/svg"), 0) << page.substr(at - 4, 40);
    }
    std::size_t charts = 0;
    for (std::size_t at = page.find("<svg"); at != std::string::npos; at = page.find("<svg", at + 1)) ++charts;
    EXPECT_EQ(charts, 4u);  // side by side; runs, spread, the comparison of the host
    for (const char* shown :
         {"cite &lt;me&gt;", "machine busy", "smt", "too few runs to decide", "B&lt;i&gt;, 1 copy"}) {
        EXPECT_NE(page.find(shown), std::string::npos) << shown;
    }
    EXPECT_EQ(page.find("1 copies"), std::string::npos);
}

// A table as the page draws it: a column empty in every row left out, a
// figure or a time kept on one line, a longer text wrapped between words only
// (not after a hyphen within one).
TEST(PtrunReport, HtmlTablesLeaveOutEmptyColumnsAndNeverBreakAFigure) {
    const ptrun::Table table{"t", {"n", "instructions", "when", "why"},
                             {{"0.1191", "", "2026-12-08T20:00:00Z", "kernel 6.1.0-18 -> 6.1.0-21; 6 runs"},
                              {"1.0402 (1.0038 to 1.0773 at 96.2 %)", "", "", "x"}}};
    const std::string page = ptrun::html_page("p", {{"s", {}, {}, {table}}});
    for (const char* shown :
         {"<th class=\"f\">n</th><th class=\"f\">when</th><th class=\"f\">why</th></tr>", "td,.f{white-space:nowrap}",
          "<td>0.1191</td><td>2026-12-08T20:00:00Z</td><td class=\"w\">kernel <span class=\"f\">6.1.0-18</span> "
          "<span class=\"f\">-&gt;</span> <span class=\"f\">6.1.0-21;</span> 6 runs</td>",
          "<td>1.0402 (1.0038 to 1.0773 at 96.2 %)</td><td></td><td>x</td>"}) {
        EXPECT_NE(page.find(shown), std::string::npos) << shown;
    }
    EXPECT_EQ(page.find("instructions"), std::string::npos);
    EXPECT_EQ(page.find("anywhere"), std::string::npos);  // what broke numbers mid-digit
}

// No control character of a file reaches a terminal, Markdown or CSV raw,
// whichever result shows it: each is written out as \xNN.
TEST(PtrunReport, NoFormatLetsAControlCharacterOfAFileThrough) {
    Document doc = hostile();
    std::vector<ptrun::Source> sources = {{"hostile\x1b]0;title\x07.json", doc}};
    std::string error;
    const std::optional<ptrun::Comparison> compared = ptrun::compare_files(sources, {}, error);
    ASSERT_TRUE(compared) << error;
    ptrun::HistoryBuilder builder;
    builder.add(doc, sources[0].file);
    ptrun::History history;
    history.series = builder.finish();
    for (const char* name : {"table", "md", "csv", "openmetrics"}) {
        const ptrun::Format& format = *ptrun::find_format(name);
        const std::string by_call = format.history != nullptr ? format.history(history) : "";
        for (const std::string& text : {format.report(doc), format.comparison(*compared), by_call}) {
            for (std::size_t i = 0; i < text.size(); ++i) {
                const auto byte = static_cast<unsigned char>(text[i]);
                const bool line_end =
                    byte == '\n' || (byte == '\r' && name == std::string("csv") && text[i + 1] == '\n');
                const bool c1 = byte == 0xc2 && (static_cast<unsigned char>(text[i + 1]) & 0xe0) == 0x80;
                ASSERT_FALSE((byte < 0x20 && !line_end) || byte == 0x7f || c1) << name << " at " << i << ":\n" << text;
            }
            EXPECT_EQ(text.find("gate passed\n"), std::string::npos) << name;
        }
    }
    EXPECT_EQ(ptrun::visible("\x1b[2J\r\t\xc2\x9b\x7f\n\xc3\xa9"), "\\x1b[2J\\x0d\\x09\\x9b\\x7f\\x0a\xc3\xa9");
}

TEST(PtrunReport, MarkdownKeepsItsColumnsAndItsPointsInAnyLocale) {
    const char* before = std::setlocale(LC_ALL, "de_DE.UTF-8");
    const std::string md = ptrun::find_format("md")->report(hostile());
    std::setlocale(LC_ALL, "C");
    if (before == nullptr) GTEST_SKIP() << "no de_DE.UTF-8 locale";
    EXPECT_NE(md.find("| A | 1 | 2 | 2.50 | 2.00 | 3.00 |"), std::string::npos) << md;
    EXPECT_EQ(md.find("<script"), std::string::npos);
    EXPECT_NE(md.find("=cmd\\|x"), std::string::npos);
}

TEST(PtrunReport, CsvHasARowPerRunAndQuotesWhatNeedsIt) {
    Document doc = hostile();
    doc.runs[0].error = "=HYPERLINK(\"x\")";
    const std::string csv = ptrun::find_format("csv")->report(doc);
    // A row ends in CRLF; a message's own line break stays inside its quotes.
    std::size_t rows = 0;
    for (std::size_t at = csv.find("\r\n"); at != std::string::npos; at = csv.find("\r\n", at + 2)) ++rows;
    EXPECT_EQ(rows, 7u);
    EXPECT_EQ(csv.rfind("call_id,host,build,copies,round,copy,cpu,warmup,score", 0), 0u) << csv;
    EXPECT_NE(csv.find(",\"'=HYPERLINK(\"\"x\"\")\""), std::string::npos) << csv;
}

// A dashboard's labels: a quote, a backslash and a line break escaped as
// the format asks, and each sample's figures where it expects them.
TEST(PtrunReport, OpenMetricsEscapesLabelsAndEndsWithEof) {
    Document doc;
    doc.summary.push_back({"h\"o\\s\nt", "A", 2, 5, 10.5, 9, 11, 0.1, std::nullopt, 0, std::nullopt});
    const std::string text = ptrun::find_format("openmetrics")->report(doc);
    for (const char* sample : {"\npt_rate_score_median{host=\"h\\\"o\\\\s\\nt\",build=\"A\",copies=\"2\"} 10.5\n",
                               "\npt_rate_score_min{", "} 9\n", "} 11\n", "\npt_rounds{", "} 5\n"}) {
        EXPECT_NE(text.find(sample), std::string::npos) << sample << "\n" << text;
    }
    EXPECT_TRUE(text.ends_with("\n# EOF\n")) << text;
    const Json bencher = Json::parse(ptrun::find_format("bencher")->report(doc));
    EXPECT_EQ(bencher["pt h\"o\\s\nt A, 2 copies"]["throughput"],
              Json({{"value", 10.5}, {"lower_value", 9.0}, {"upper_value", 11.0}}));
}

// The list the command line chooses from: in --help's order, the default
// first, each name finding its own format, which begins its own way.
TEST(PtrunReport, FindsEveryFormatByItsNameAndEachDrawsTheDocument) {
    const Document doc = hostile();
    const std::vector<std::pair<std::string_view, std::string_view>> begins = {
        {"md", "# ptrun report\n"}, {"table", "A pt "}, {"csv", "call_id,host,"}, {"html", "<!DOCTYPE html>"},
        {"json", "{"}, {"openmetrics", "# TYPE pt_rate_score_median gauge\n"}, {"bencher", "{\n  \"pt "}};
    ASSERT_EQ(ptrun::formats().size(), begins.size());
    for (std::size_t i = 0; i < begins.size(); ++i) {
        const ptrun::Format& format = ptrun::formats()[i];
        EXPECT_EQ(format.name, begins[i].first);
        EXPECT_EQ(ptrun::find_format(format.name), &format);
        EXPECT_FALSE(format.help.empty() || format.help.back() == '.') << format.name;
        const std::string text = format.report(doc);
        EXPECT_TRUE(text.starts_with(begins[i].second)) << format.name << ": " << text.substr(0, 80);
    }
    for (const char* unknown : {"pdf", "", "MD", "md "}) EXPECT_EQ(ptrun::find_format(unknown), nullptr) << unknown;
    // JSON is a results file: read back, it holds the same runs, field for field as the CSV lists them.
    std::string error;
    auto back = ptrun::parse_results(ptrun::find_format("json")->report(doc), "json", error);
    ASSERT_TRUE(back) << error;
    ptrun::analyse(*back);  // the CSV also gives each host's standing, a figure
    EXPECT_EQ(ptrun::find_format("csv")->report(*back), ptrun::find_format("csv")->report(doc));
}

TEST(PtrunReport, ListsAHostThatProducedNothingInEveryFormat) {
    const std::string stub = R"({"schema_version": 2, "call_id": "00000000000000f1", "outcome": "no results",
        "no_results_reason": "unreachable", "host": {"id": "far", "hostname": "far", "label": null}, "runs": []})";
    std::string error;
    const auto far = ptrun::parse_results(stub, "far.json", error);
    ASSERT_TRUE(far) << error;
    const Document merged = merge({call("a1", "alpha", "alpha.lan", "s1", {9, 10, 12, 11}), {"far.json", *far}});
    ASSERT_EQ(merged.hosts.size(), 2u);
    EXPECT_EQ(merged.calls[1].no_results_reason, "unreachable");
    EXPECT_EQ(ptrun::whole_call(merged).outcome, "failed");
    ASSERT_FALSE(merged.reportable_reasons.empty());
    EXPECT_EQ(merged.reportable_reasons[0], "host far: no results (unreachable)");
    // Written and read back, it still says so.
    auto again = ptrun::parse_results(ptrun::dump(merged), "merged.json", error);
    ASSERT_TRUE(again) << error;
    ptrun::analyse(*again);
    for (const ptrun::Format& format : ptrun::formats()) {
        if (format.name == "bencher") continue;  // its benchmarks are figures, of which the host has none
        EXPECT_NE(format.report(*again).find("no results (unreachable)"), std::string::npos) << format.name;
    }
}

// Two hosts of one build side by side: the verdict against the first is the
// document's own comparison (written, and what compare gives), and the table
// tells each host's rows and processor apart.
TEST(PtrunReport, PutsHostsSideBySideFromTheDocumentsComparisons) {
    std::vector<ptrun::Source> sources;
    for (const auto& [host, scores] : {std::pair{"alpha", std::vector<double>{1, 10, 11, 12, 13}},
                                       std::pair{"beta", std::vector<double>{1, 20, 21, 22, 23}}}) {
        Json json = call_json(std::string("c-") + host, host, host, "s1", scores);
        json["hosts"][0]["machine"]["processor"] = std::string("CPU of ") + host;
        std::string error;
        const auto parsed = ptrun::parse_results(json.dump(), host, error);
        ASSERT_TRUE(parsed) << error;
        sources.push_back({host, *parsed});
    }
    const Document merged = merge(sources);
    ASSERT_EQ(merged.comparisons.size(), 1u);
    const ptrun::ComparisonEntry& entry = merged.comparisons[0];
    EXPECT_EQ(entry.call_id + entry.host + "/" + entry.b_host, "alpha/beta");
    const auto again = ptrun::compare_sides({&merged, "alpha", "A", "", nullptr}, {&merged, "beta", "A", "", nullptr});
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(again[0].figures.estimate, entry.figures.estimate);
    const Json written = Json::parse(ptrun::dump(merged))["comparison"][0];
    EXPECT_EQ(written["b_host"], "beta");
    EXPECT_EQ(written["call_id"], nullptr);

    const std::string md = ptrun::find_format("md")->report(merged);
    EXPECT_NE(md.find("| beta | A | 1 | 4 | 21.50 | 20.00 | 23.00 |  | 1.8708 (1.5385 to 2.3000 at 97.1 %) | "
                      "faster by 87.1 % |"),
              std::string::npos)
        << md;
    const std::string table = ptrun::find_format("table")->report(merged);
    for (const char* line : {"processor     CPU of alpha", "processor     CPU of beta", "\nalpha       1     4  ",
                             "\nbeta        1     4  ", "alpha/A  beta/A "}) {
        EXPECT_NE(table.find(line), std::string::npos) << line << "\n" << table;
    }
}

TEST(PtrunSvg, MarksWarmUpAndFlaggedRunsByShape) {
    const std::string plain = ptrun::svg_runs({"s"}, {{0, 5, false, false}});
    const std::string warm = ptrun::svg_runs({"s"}, {{0, 5, true, false}});
    const std::string flagged = ptrun::svg_runs({"s"}, {{0, 5, false, true}});
    EXPECT_EQ(plain.find("fill=\"#fff\""), std::string::npos);
    EXPECT_NE(warm.find("fill=\"#fff\""), std::string::npos);
    EXPECT_EQ(plain.find("<path"), std::string::npos);
    EXPECT_NE(flagged.find("<path"), std::string::npos);
}

// Every chart names the ticks of both axes and cuts no label: one too long
// for any room widens the chart rather than losing its end.
TEST(PtrunSvg, LabelsBothAxesAndCutsNoLabel) {
    const std::string build = "a-build-named-longer-than-any-room-there-is-for-a-label-in-any-chart-of-the-page";
    std::vector<ptrun::RunPoint> runs;
    for (int i = 0; i < 12; ++i) runs.push_back({i % 2, 100.0 + i, false, false});
    const std::vector<std::pair<std::string, std::vector<std::string>>> charts = {
        {ptrun::svg_runs({build, "b"}, runs), {">1</text>", ">6</text>", ">105</text>", ">" + build + "</text>"}},
        {ptrun::svg_rows("ratio", {{build + ", 2 copies", 0, 1, 0.9, 1.1, "too few runs to decide"}}, 1.0),
         {">1.1</text>", ">" + build + ",</text>", ">2 copies</text>", ">too few runs to decide</text>"}},
        {ptrun::svg_stacked("ms", {"copy", "dates"}, {{build, {1, 2}}}), {">3</text>", ">" + build + "</text>"}},
        // Each kind of mark named in the key.
        {ptrun::svg_calls({{1, 2}, {2, 3}, {3, 4}},
                          {{1, "+5.0 %"},
                           {0, "-20.0 %", ptrun::MarkKind::outlier},
                           {2, "accepted", ptrun::MarkKind::accepted}},
                          {"2026-11-01", "2026-11-02", "2026-11-03"}),
         {">2026-11-03</text>", ">+5.0 %</text>", ">4</text>", ">-20.0 %</text>", ">change point</text>",
          ">outlier call</text>", ">accepted change</text>"}},
        // 2026-11-01 is day 20758.
        {ptrun::svg_timeline({build, "b"}, {{0, 20758, 100}, {1, 20758.5, 104}, {0, 20760, 101}}),
         {">2026-11-01</text>", ">2026-11-02</text>", ">104</text>", ">" + build + "</text>"}},
    };
    for (const auto& [chart, shown] : charts) {
        for (const std::string& text : shown) EXPECT_NE(chart.find(text), std::string::npos) << text << "\n" << chart;
        EXPECT_EQ(chart.find("\u2026"), std::string::npos) << chart;
        const bool long_label = chart.find(build) != std::string::npos;
        EXPECT_EQ(chart.rfind("<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 480 ", 0) != 0, long_label);
    }
}

TEST(PtrunSvg, DrawsValuesOfAnyMagnitude) {
    // Steps below the values' precision, and numbers longer than any buffer.
    const std::string chart = ptrun::svg_spread({"s"}, {{0, 1, 1e17, 1e17, 1e17 + 16, std::nullopt}});
    EXPECT_LT(chart.size(), 20000u);
    // All one number below the normal doubles: an axis still has a scale and ticks.
    for (const double tiny : {1e-323, 2e-310}) {
        const std::string flat = ptrun::svg_spread({"s"}, {{0, 1, tiny, tiny, tiny, std::nullopt}});
        EXPECT_NE(flat.find("class=\"grid\""), std::string::npos) << tiny;
    }
    EXPECT_EQ(ptrun::number_text(1e300, 0).size(), 301u);
    EXPECT_EQ(ptrun::number_text(-1234.5678, 2), "-1234.57");
}

}  // namespace

// Each build's unit by module, and the modules of a comparison, in every
// format; a round whose copies' times overflow when averaged (each one finite)
// stays out of the module figures rather than ending the call.
TEST(PtrunReport, SaysWhatACallShowingNoDifferenceCouldHaveSeen) {
    const std::vector<std::pair<std::optional<double>, std::string>> cases = {
        {0.031, "no difference shown; a slowdown of 3.1 % would have been seen 80 % of the time"},
        {0.0, "no difference shown; a slowdown of under 0.1 % would have been seen 80 % of the time"},
        {std::nullopt, "no difference shown"}};
    for (const auto& [detectable, words] : cases) {
        ptrun::SampleComparison c;
        c.verdict = ptrun::Verdict::no_difference;
        c.detectable_slowdown = detectable;
        EXPECT_EQ(ptrun::verdict_words(c), words);
    }
}

TEST(PtrunReport, EveryFormatShowsTheModules) {
    Json doc = call_json("c1", "h", "h", "s", {900, 1000, 1010, 990, 1005});
    doc["builds"].push_back({{"id", "B"}, {"sha256", "t"}, {"validated", true}});
    const std::size_t runs = doc["runs"].size();
    for (std::size_t i = 0; i < runs; ++i) {
        Json b = doc["runs"][i];
        b["build"] = "B";
        b["score"] = b["score"].get<double>() * 0.9;
        doc["runs"].push_back(b);
    }
    for (Json& run : doc["runs"]) {
        const double slower = run["build"] == "B" ? 1.5 : 1.0;
        run["module_ms"] = {{"copy", 0.06}, {"dates", 0.26}, {"words", 0.15}, {"parse", 0.25 * slower},
                            {"library", 0.016}, {"database", 0.063}};
    }
    for (std::size_t i = 0; i < 2 * runs; ++i) {
        for (const int copy : {1, 2}) {
            Json run = doc["runs"][i];
            run["copies"] = 2;
            run["copy"] = copy;
            run["module_ms"]["dates"] = 1e308;
            doc["runs"].push_back(run);
        }
    }
    std::string error;
    std::optional<Document> read = ptrun::parse_results(doc.dump(), "m.json", error);
    ASSERT_TRUE(read) << error;
    ptrun::analyse(*read);
    const std::vector<std::pair<std::string, std::vector<std::string>>> shown = {
        {"md", {"Milliseconds per work unit by module", "| A | 1 | 0.0600 | 0.2600 |", "| parse | 0.2500 | 0.3750 |"}},
        {"table", {"milliseconds per work unit by module", "0.0600     0.2600", "parse        0.2500    0.3750"}},
        {"csv", {",ms_copy,ms_dates,", ",0.375,", ",parse_instructions,"}},
        {"html", {"Time per work unit by module", ">parse</text>", "Modules compared", "B&#39;s time over A&#39;s"}},
    };
    for (const auto& [format, texts] : shown) {
        const std::string text = ptrun::find_format(format)->report(*read);
        for (const std::string& wanted : texts) {
            EXPECT_NE(text.find(wanted), std::string::npos) << format << ": " << wanted;
        }
    }
    // Each module's interval with its coverage, and a verdict only the rounds allow.
    std::vector<ptrun::Source> sources = {{"m.json", *read}};
    const std::optional<ptrun::Comparison> compared = ptrun::compare_files(sources, {}, error);
    ASSERT_TRUE(compared) << error;
    const std::vector<std::pair<std::string, std::string>> modules = {
        {"table",
         "parse        0.2500    0.3750    1.5000  1.5000 to 1.5000     97.1 %    0.0286  rank-sum     B takes 50.0 % "
         "longer"},
        {"md", "| parse | 0.2500 | 0.3750 | 1.5000 | 1.5000 to 1.5000 | 97.1 % | 0.0286 | rank-sum | B takes 50.0 % "
               "longer |"},
        {"csv", "ms parse,1,A,B,4,4,,,0.25,0.375,1.5000,1.5000,1.5000,1.5000,97.1,0.0286,B takes 50.0 % longer,"},
        {"json", "\"confidence\": 0.9714285714285714"}, {"html", "B takes 50.0 % longer"}};
    for (const auto& [format, wanted] : modules) {
        const std::string text = ptrun::find_format(format)->comparison(*compared);
        EXPECT_NE(text.find(wanted), std::string::npos) << format << "\n" << text;
    }
}
