// HTML: the page with its charts, one self-contained file that fetches nothing.
#include <string>

#include "present/page.h"
#include "present/svg.h"

namespace ptrun {

namespace {

constexpr const char* kStyle = R"(
body{font:15px/1.4 system-ui,sans-serif;color:#111;background:#fff;margin:0 auto;max-width:1200px;padding:0 12px}
h1{font-size:1.5em}h2{font-size:1.2em;border-bottom:1px solid #999;margin-top:1.6em}h3{font-size:1em}
h2,dd,td,th,caption,figcaption{overflow-wrap:anywhere;word-break:break-word}
dl{display:grid;grid-template-columns:max-content 1fr;gap:2px 12px;margin:8px 0}dt{font-weight:600}dd{margin:0;
min-width:0}
.charts{display:flex;flex-wrap:wrap;gap:12px}figure{margin:0;flex:1 1 420px;max-width:620px;min-width:0}
figcaption{font-weight:600;font-size:.9em}
svg{width:100%;height:auto}svg text{font:11px sans-serif;fill:#111}.grid{stroke:#ddd}
.scroll{overflow-x:auto}table{border-collapse:collapse;margin:4px 0 12px;font-variant-numeric:tabular-nums}
th,td{border:1px solid #bbb;padding:2px 6px;text-align:left;vertical-align:top}caption{text-align:left;font-weight:600}
@media (max-width:600px){body{font-size:14px;padding:0 6px}dl{grid-template-columns:minmax(0,1fr)}dt{margin-top:4px}
figure{flex-basis:100%}}
@media print{body{max-width:none;font-size:9pt}section{break-before:auto}figure,table{break-inside:avoid}
.scroll{overflow:visible}figure{max-width:48%}}
)";

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
        out += "<section><h2>" + escape_html(section.title) + "</h2>\n";
        if (!section.facts.empty()) {
            out += "<dl>";
            for (const auto& [name, value] : section.facts) {
                out += "<dt>" + escape_html(name) + "</dt><dd>" + escape_html(value) + "</dd>";
            }
            out += "</dl>\n";
        }
        if (!section.charts.empty()) {
            out += "<div class=\"charts\">";
            for (const auto& [title, chart] : section.charts) {
                out += "<figure><figcaption>" + escape_html(title) + "</figcaption>" + chart + "</figure>\n";
            }
            out += "</div>\n";
        }
        for (const Table& table : section.tables) {
            out += "<div class=\"scroll\"><table><caption>" + escape_html(table.caption) + "</caption><tr>";
            for (const std::string& head : table.head) out += "<th>" + escape_html(head) + "</th>";
            out += "</tr>";
            for (const std::vector<std::string>& row : table.rows) {
                out += "\n<tr>";
                for (const std::string& cell : row) out += "<td>" + escape_html(cell) + "</td>";
                out += "</tr>";
            }
            out += "</table></div>\n";
        }
        out += "</section>\n";
    }
    return out + "</body></html>\n";
}

std::string report_html(const Document& doc) { return html_page("ptrun report", sections_of(doc, true)); }

std::string comparison_html(const Comparison& comparison) {
    return html_page("ptrun compare", comparison_sections(comparison, true));
}

}  // namespace ptrun
