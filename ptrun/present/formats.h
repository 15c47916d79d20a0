// Every way ptrun shows a results document, each one function of the typed
// document that returns the whole text, and the one list of them that the
// command line chooses from and names in its help. Every figure is recomputed
// from the runs; every string from a file is treated as untrusted text.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "model/document.h"

namespace ptrun {

struct Format {
    std::string_view name;  // as --format takes it
    std::string_view help;  // one line for --help, lower case, no full stop
    std::string (*render)(const Document&);
};

// The default first: md, then table, csv, html, json.
std::span<const Format> formats();
// Nothing when there is no format of that name.
const Format* find_format(std::string_view name);

// The formats, a file each. The document is one results document (merge
// several first); the terminal table is in terminal.h.
std::string report_markdown(const Document& document);
std::string report_csv(const Document& document);
std::string report_html(const Document& document);
std::string report_json(const Document& document);

}  // namespace ptrun
