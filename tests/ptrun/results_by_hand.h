// Results files made by hand for the suites of ptrun's rooms: one call of
// one or more builds of the same binary, read as ptrun reads files.
#pragma once

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <vector>

#include "ptrun/decide/analyse.h"
#include "ptrun/model/reader.h"

namespace ptrun_tests {

using Json = nlohmann::ordered_json;
using ptrun::Document;

// One call on host `host` with a build per entry of `scores`, each with a
// round per score (one copy), and a builds list naming the same binary.
inline Json call(const std::string& id, const std::string& host, const std::string& hostname,
          const std::vector<std::vector<double>>& scores) {
    Json doc = {{"schema_version", 2}, {"call_id", id}, {"outcome", "completed"},
                {"host", {{"id", host}, {"hostname", hostname}}}, {"runs", Json::array()}};
    doc["hosts"] = {{{"id", host}, {"hostname", hostname}, {"machine", {{"processor", "P " + hostname}}}}};
    for (std::size_t b = 0; b < scores.size(); ++b) {
        const std::string build(1, static_cast<char>('A' + b));
        doc["builds"].push_back({{"id", build}, {"path", "/pt"}, {"sha256", "same"}, {"validated", true}});
        for (std::size_t r = 0; r < scores[b].size(); ++r) {
            doc["runs"].push_back({{"copies", 1}, {"round", r + 1}, {"copy", 1}, {"score", scores[b][r]},
                                   {"call_id", id}, {"host", host}, {"build", build}});
        }
    }
    return doc;
}

inline Document read(const Json& doc, const std::string& name = "test.json") {
    std::string error;
    std::optional<Document> parsed = ptrun::parse_results(doc.dump(), name, error);
    EXPECT_TRUE(parsed) << error;
    return parsed.value_or(Document{});
}

inline Document analysed(Document doc) {
    ptrun::analyse(doc);
    return doc;
}

}  // namespace ptrun_tests
