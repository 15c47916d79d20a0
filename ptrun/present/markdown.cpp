// Markdown: the page as tables, readable as plain text and wherever Markdown is shown.
#include <string>

#include "present/page.h"
#include "present/text.h"

namespace ptrun {

namespace {

// A Markdown cell: one line, no column break, no markup taken as HTML, no
// control character.
std::string md_cell(const std::string& text) {
    std::string out;
    for (const char c : visible(text, true)) {
        if (c == '|' || c == '\\' || c == '*' || c == '_' || c == '`' || c == '[' || c == ']') out += '\\';
        if (c == '<') {
            out += "&lt;";
        } else if (c == '&') {
            out += "&amp;";
        } else if (c == '\n' || c == '\r' || c == '\t') {
            out += ' ';
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace

std::string markdown_page(const std::string& title, const std::vector<Section>& sections) {
    std::string out = "# " + md_cell(title) + "\n";
    for (const Section& section : sections) {
        out += "\n## " + md_cell(section.title) + "\n\n";
        for (const auto& [name, value] : section.facts) out += "- **" + md_cell(name) + "**: " + md_cell(value) + "\n";
        for (const Table& table : section.tables) {
            out += "\n**" + md_cell(table.caption) + "**\n\n|";
            for (const std::string& head : table.head) out += " " + md_cell(head) + " |";
            out += "\n|";
            for (std::size_t i = 0; i < table.head.size(); ++i) out += "---|";
            for (const std::vector<std::string>& row : table.rows) {
                out += "\n|";
                for (const std::string& cell : row) out += " " + md_cell(cell) + " |";
            }
            out += "\n";
        }
    }
    return out;
}

std::string report_markdown(const Document& doc) { return markdown_page("ptrun report", sections_of(doc, false)); }

std::string comparison_markdown(const Comparison& comparison) {
    std::vector<Section> sections = comparison_sections(comparison, false);
    const auto facts = detectable_facts(comparison.entries);
    if (!facts.empty()) sections.push_back({"What these rounds could have seen", facts, {}, {}});
    return markdown_page("ptrun compare", sections);
}

}  // namespace ptrun
