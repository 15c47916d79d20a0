#include "present/formats.h"

#include <algorithm>
#include <array>

#include "present/terminal.h"

namespace ptrun {

namespace {

constexpr std::array kFormats = {
    Format{"md", "Markdown tables, the default", report_markdown},
    Format{"table", "the table a run prints, for a terminal", terminal_table},
    Format{"csv", "one row per run, for spreadsheets", report_csv},
    Format{"html", "one self-contained page with SVG charts", report_html},
    Format{"json", "the merged results file", report_json},
};

}  // namespace

std::span<const Format> formats() { return kFormats; }

const Format* find_format(std::string_view name) {
    const auto at = std::find_if(kFormats.begin(), kFormats.end(), [&](const Format& f) { return f.name == name; });
    return at == kFormats.end() ? nullptr : &*at;
}

}  // namespace ptrun
