// The one table of the ways ptrun shows a result: each format's name, its
// file's extension, and its writer for each kind of result it can show (a
// comparison, a report's figures, a history). Every command's --format and
// --help are made from it. A new format is one file of writers and one row
// in formats.cpp. Every figure is recomputed from the runs; every string
// from a file is treated as untrusted text.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "decide/analyse.h"
#include "decide/compare.h"
#include "decide/history.h"
#include "model/document.h"

namespace ptrun {

enum class ResultKind { comparison, report, history };

struct Format {
    std::string_view name;       // as --format takes it
    std::string_view extension;  // of a file written in it, without the dot
    std::string_view help;       // one line for --help, lower case, no full stop
    // nullptr where the format cannot show that kind of result.
    std::string (*comparison)(const Comparison&) = nullptr;
    std::string (*report)(const Document&) = nullptr;
    std::string (*history)(const History&) = nullptr;
    // The figures a report in this format shows: the others are not computed.
    Figures report_figures = kEveryFigure;

    bool shows(ResultKind kind) const;
};

std::span<const Format> formats();
// Nothing when there is no format of that name.
const Format* find_format(std::string_view name);

}  // namespace ptrun
