// The one writer of results files: the document as JSON text.
#pragma once

#include <string>

#include "model/document.h"

namespace ptrun {

// As text that is valid UTF-8 JSON whatever the strings held, every number
// written so that it reads back exactly.
std::string dump(const Document& document);

}  // namespace ptrun
