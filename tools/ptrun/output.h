// Writing what the user asked for: a file replaced whole, never half-written.
#pragma once

#include <string>

namespace ptrun {

// Replaces path with text through a private temporary file beside it;
// false, and why in error, when that failed (path is then untouched).
bool write_output(const std::string& path, const std::string& text, std::string& error);

}  // namespace ptrun
