// What a document of one call says of that call, and the ids made up from texts.
#pragma once

#include <string>
#include <vector>

#include "model/document.h"

namespace ptrun {

// The one call of a document of one call, as a merge keeps it.
CallRecord call_record(const Document& document);

// 16 hex digits that stand for a text (FNV-1a): the id of a call made up
// from its file, or of a merge from its calls' ids.
std::string hex_digest(const std::string& text);

}  // namespace ptrun
