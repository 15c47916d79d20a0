// What people look at: one or more results files as Markdown tables, as CSV
// (one row per run) or as one self-contained HTML page with charts. Every
// figure is recomputed from the runs; every string from a file is treated as
// untrusted text.
#pragma once

#include <string>
#include <vector>

#include "model/document.h"

namespace ptrun {

// The document is one results document (merge several first).
std::string report_markdown(const Document& document);
std::string report_csv(const Document& document);
std::string report_html(const Document& document);

}  // namespace ptrun
