// The one reader of results files: checks every field's type and range,
// upgrades schema 1 and answers anything else with the file and the path of
// the field at fault ("runs[12].score: ...").
#pragma once

#include <optional>
#include <string>

#include "model/document.h"

namespace ptrun {

// Deeper nesting than any results file has is refused before a tree is built.
inline constexpr int kMaxNesting = 64;

// The document a text holds, its figures computed; nothing, and why in
// error ("NAME: runs[3].copies: ..."), for anything else.
std::optional<Document> parse_results(const std::string& text, const std::string& name, std::string& error);
// The same for a file: a regular file of at most 256 MiB.
std::optional<Document> load_results(const std::string& path, std::string& error);

}  // namespace ptrun
