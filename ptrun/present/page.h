// The page a report shows, apart from how it is drawn: sections of facts,
// tables and charts built from the typed document, which the Markdown and the
// HTML page both draw, so that the two always say the same.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "decide/compare.h"
#include "model/document.h"

namespace ptrun {

// A table as both formats draw it.
struct Table {
    std::string caption;
    std::vector<std::string> head;
    std::vector<std::vector<std::string>> rows;
};

struct Section {
    std::string title;
    std::vector<std::pair<std::string, std::string>> facts;   // name and value; none empty
    std::vector<std::pair<std::string, std::string>> charts;  // title and SVG, for the page only
    std::vector<Table> tables;                                // none empty
};

// The overview, the hosts side by side (when there is more than one series)
// and one section per host. Charts cost most of a page's time: only a format
// that draws them asks for them.
std::vector<Section> sections_of(const Document& document, bool charts);

// A comparison as a page: the builds, the gate, B against A and by module.
std::vector<Section> comparison_sections(const Comparison& comparison, bool charts);
// The sections as a Markdown document, and as a self-contained HTML page
// with their charts, under the title.
std::string markdown_page(const std::string& title, const std::vector<Section>& sections);
std::string html_page(const std::string& title, const std::vector<Section>& sections);

// A CSV field: quoted when it has to be; text that a spreadsheet would take
// as a formula is led by an apostrophe.
std::string csv_field(std::string text, bool is_text = true);

// The texts with the separator between them.
std::string joined(const std::vector<std::string>& texts, const char* separator = ", ");

}  // namespace ptrun
