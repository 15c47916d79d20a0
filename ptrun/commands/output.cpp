#include "commands/output.h"

#include <cstdio>

#include "present/text.h"

namespace ptrun {

std::vector<Option> output_options(ResultKind kind, std::string_view default_format, OutputChoice& choice) {
    choice.format = find_format(default_format);
    std::string names, listed;
    for (const Format& format : formats()) {
        if (!format.shows(kind)) continue;
        names += (names.empty() ? "" : "|") + std::string(format.name);
        listed += "\n" + std::string(format.name) + ": " + std::string(format.help) +
                  (format.name == default_format ? " (the default)" : "");
    }
    return {
        {{"--format"}, names, "what to write:" + listed,
         [&choice, names, kind](const std::string& value) {
             const Format* format = find_format(value);
             if (format == nullptr || !format->shows(kind)) {
                 throw UsageError("bad --format \"" + visible(value) + "\": " + names);
             }
             choice.format = format;
         }},
        {{"-o", "--output"}, "OUT", "write to OUT, replaced whole (default: standard output)",
         [&choice](const std::string& value) {
             if (value.empty()) throw UsageError("-o needs a file name");
             choice.out = value;
         }},
    };
}

Target output_target(const OutputChoice& choice) {
    Target target;
    std::string error;
    if (!resolve_target(choice.out.empty() ? "-" : choice.out, target, error, "-o")) throw UsageError(error);
    return target;
}

bool write_result(std::string_view command, std::string_view what, const Target& target, const std::string& text) {
    std::string error;
    if (write_output(target, text, error)) return true;
    const std::string figures = "the figures";
    if (const auto at = error.find(figures); target.standard_output && at != std::string::npos) {
        error.replace(at, figures.size(), what);
    }
    say(command, error);
    return false;
}

void say(std::string_view command, const std::string& message) {
    std::fprintf(stderr, "ptrun %.*s: %s\n", static_cast<int>(command.size()), command.data(),
                 visible(message, false).c_str());
}

}  // namespace ptrun
