// HTML: the page with its charts, one self-contained file that fetches nothing.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "present/page.h"
#include "present/text.h"
#include "present/svg.h"

namespace ptrun {

namespace {

// Table cells never break inside a word: a table wider than the page
// scrolls in its own box, whose edges shade where there is more to see. On
// paper, where nothing scrolls, a cell wraps between its words.
constexpr const char* kStyle = R"(
body{font:15px/1.4 system-ui,sans-serif;color:#111;background:#fff;margin:0 auto;max-width:1200px;padding:0 12px}
h1{font-size:1.5em}h2{font-size:1.2em;border-bottom:1px solid #999;margin-top:1.6em}h3{font-size:1em}
h2,dd,caption,figcaption{overflow-wrap:break-word}
dl{display:grid;grid-template-columns:max-content 1fr;gap:2px 12px;margin:8px 0}dt{font-weight:600}dd{margin:0;
min-width:0}
.charts{display:flex;flex-wrap:wrap;gap:12px}figure{margin:0;flex:1 1 420px;max-width:620px;min-width:0}
figcaption{font-weight:600;font-size:.9em}
svg{width:100%;height:auto}svg text{font:11px sans-serif;fill:#111}.grid{stroke:#ddd}
.scroll{overflow-x:auto;margin:4px 0 12px;background:linear-gradient(90deg,#fff 40%,#fff0) left/24px 100% local,
linear-gradient(270deg,#fff 40%,#fff0) right/24px 100% local,radial-gradient(farthest-side at 0 50%,#0003,#0000)
left/10px 100% scroll,radial-gradient(farthest-side at 100% 50%,#0003,#0000) right/10px 100% scroll;
background-repeat:no-repeat}
table{border-collapse:collapse;font-variant-numeric:tabular-nums}caption{text-align:left;font-weight:600}
th,td{border:1px solid #bbb;padding:2px 6px;text-align:left;vertical-align:top}td,.f{white-space:nowrap}
.w{white-space:normal;min-width:18em}
@media (max-width:600px){body{font-size:14px;padding:0 6px}dl{grid-template-columns:minmax(0,1fr)}dt{margin-top:4px}
figure{flex-basis:100%}}
@media print{body{max-width:none;font-size:9pt}section{break-before:auto}figure,table{break-inside:avoid}
.scroll{overflow:visible}td{white-space:normal}figure{max-width:48%}}
)";

// Text that may wrap between its words only. A browser would also break a
// word after a hyphen or a slash (a target triple, a path, a time, "->"):
// a word with any such mark is held whole.
std::string words_html(const std::string& text) {
    std::string out;
    for (std::size_t from = 0; from <= text.size();) {
        const std::size_t to = std::min(text.find(' ', from), text.size());
        const std::string word = text.substr(from, to - from);
        const bool marked = word.size() > 1 && std::any_of(word.begin(), word.end(), [](char c) {
            return std::isalnum(static_cast<unsigned char>(c)) == 0 && std::strchr(".,:;()'", c) == nullptr;
        });
        out += marked ? "<span class=\"f\">" + escape_html(word) + "</span>" : escape_html(word);
        if (to < text.size()) out += ' ';
        from = to + 1;
    }
    return out;
}

// The columns that hold something in some row: a machine without event
// counters leaves four columns of a comparison empty, and they would take
// the room of those that say something.
std::vector<std::size_t> filled_columns(const Table& table) {
    std::vector<std::size_t> filled;
    for (std::size_t column = 0; column < table.head.size(); ++column) {
        const bool any = std::any_of(table.rows.begin(), table.rows.end(), [&](const std::vector<std::string>& row) {
            return column < row.size() && !row[column].empty();
        });
        if (any || table.rows.empty()) filled.push_back(column);
    }
    return filled;
}

// A figure, however long: numbers and the words that join them
// ("1.0402 (1.0038 to 1.0773 at 96.2 %)", "-6.0 % from 2026-11-08", "4.4e-12").
bool figure(const std::string& text) {
    bool number = false;
    for (std::size_t from = 0; from < text.size();) {
        const std::size_t to = std::min(text.find(' ', from), text.size());
        const std::string word = text.substr(from, to - from);
        from = to + 1;
        if (word == "to" || word == "at" || word == "by" || word == "of" || word == "from") continue;
        const auto first = std::find_if(word.begin(), word.end(), [](char c) {
            return std::isalnum(static_cast<unsigned char>(c)) != 0;
        });
        if (first != word.end() && std::isdigit(static_cast<unsigned char>(*first)) == 0) return false;
        number = number || first != word.end();
    }
    return number;
}

// A figure or a cell of a few words (a verdict, a time, a name) stays on one
// line; only a longer text wraps, between its words, in a column wide enough
// to read.
bool wraps(const std::string& text) {
    constexpr std::ptrdiff_t kFewWords = 24;
    return !figure(text) && std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }) > kFewWords;
}

std::string table_html(const Table& table) {
    const std::vector<std::size_t> columns = filled_columns(table);
    std::string out = "<div class=\"scroll\"><table><caption>" + words_html(table.caption) + "</caption><tr>";
    // A head of one or two words stays on one line; a longer one wraps to its column.
    for (const std::size_t column : columns) {
        const std::string& head = table.head[column];
        out += std::count(head.begin(), head.end(), ' ') < 2 ? "<th class=\"f\">" + escape_html(head)
                                                              : "<th>" + words_html(head);
        out += "</th>";
    }
    out += "</tr>";
    for (const std::vector<std::string>& row : table.rows) {
        out += "\n<tr>";
        for (const std::size_t column : columns) {
            const std::string cell = column < row.size() ? row[column] : "";
            out += wraps(cell) ? "<td class=\"w\">" + words_html(cell) : "<td>" + escape_html(cell);
            out += "</td>";
        }
        out += "</tr>";
    }
    return out + "</table></div>\n";
}

}  // namespace

std::string html_page(const std::string& title, const std::vector<Section>& sections) {
    std::string out =
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
        "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; style-src 'unsafe-inline'\">"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\"><title>" +
        escape_html(title) + "</title><style>";
    out += kStyle;
    out += "</style></head><body><h1>" + escape_html(title) + "</h1>\n";
    for (const Section& section : sections) {
        out += "<section><h2>" + words_html(section.title) + "</h2>\n";
        if (!section.facts.empty()) {
            out += "<dl>";
            for (const auto& [name, value] : section.facts) {
                out += "<dt>" + words_html(name) + "</dt><dd>" + words_html(value) + "</dd>";
            }
            out += "</dl>\n";
        }
        if (!section.charts.empty()) {
            out += "<div class=\"charts\">";
            for (const auto& [title, chart] : section.charts) {
                out += "<figure><figcaption>" + words_html(title) + "</figcaption>" + chart + "</figure>\n";
            }
            out += "</div>\n";
        }
        for (const Table& table : section.tables) out += table_html(table);
        out += "</section>\n";
    }
    return out + "</body></html>\n";
}

std::string report_html(const Document& doc) { return html_page("ptrun report", sections_of(doc, true)); }

std::string comparison_html(const Comparison& comparison) {
    std::vector<Section> sections = comparison_sections(comparison, true);
    const auto facts = detectable_facts(comparison.entries);
    if (!facts.empty()) sections.push_back({"What these rounds could have seen", facts, {}, {}});
    return html_page("ptrun compare", sections);
}

}  // namespace ptrun
