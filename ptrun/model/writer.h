// The one writer of results files: the document as JSON text.
#pragma once

#include <functional>
#include <string>

#include <nlohmann/json.hpp>

#include "model/document.h"
#include "model/sink.h"

namespace ptrun {

// As text that is valid UTF-8 JSON whatever the strings held, every number
// written so that it reads back exactly.
std::string dump(const Document& document);

// The same text in pieces, each handed to sink as it is made: for a file too
// large to hold twice.
void write_results(const Document& document, const TextSink& sink);

// One comparison entry as a results file's `comparison` holds it: `ptrun
// compare --format json` writes its entries in the same fields.
nlohmann::ordered_json comparison_json(const ComparisonEntry& entry);

}  // namespace ptrun
