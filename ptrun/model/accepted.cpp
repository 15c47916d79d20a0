#include "model/accepted.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace ptrun {

namespace {

constexpr const char* kBlock = "[accepted change]";

std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// A value on one line: line breaks would start a key of their own.
std::string one_line(const std::string& text) {
    std::string line = text;
    for (char& c : line) {
        if (c == '\n' || c == '\r') c = ' ';
    }
    return trimmed(line);
}

// False, and why, for a key this file does not have or a value it cannot hold.
bool set_field(AcceptedChange& change, const std::string& key, const std::string& value, std::string& why) {
    if (key == "host") change.host = value;
    else if (key == "build") change.build = value;
    else if (key == "build id") change.build_id = value;
    else if (key == "first call") change.first_call = value;
    else if (key == "accepted by") change.by = value;
    else if (key == "accepted at") change.at_utc = value;
    else if (key == "why") change.why = value;
    else if (key == "copies") {
        const auto [end, code] = std::from_chars(value.data(), value.data() + value.size(), change.copies);
        if (code != std::errc() || end != value.data() + value.size() || change.copies < 1) {
            why = "copies \"" + value + "\" is not a whole number above 0";
            return false;
        }
    } else {
        why = "no key \"" + key + "\" (host, build, build id, copies, first call, accepted by, accepted at, why)";
        return false;
    }
    return true;
}

std::string file_header() {
    return "# ptrun history: accepted changes. `ptrun history` judges each series named here against its level\n"
           "# from the first call named on (the newest such call of a series counts). Written by\n"
           "# `ptrun history --accept`; blocks may be added, edited or removed by hand.\n";
}

std::string block_of(const AcceptedChange& c) {
    std::string block = std::string("\n") + kBlock + "\nhost = " + one_line(c.host) + "\nbuild = " + one_line(c.build) +
                        "\n";
    if (c.build_id != "A") block += "build id = " + one_line(c.build_id) + "\n";
    return block + "copies = " + std::to_string(c.copies) + "\nfirst call = " + one_line(c.first_call) +
           "\naccepted by = " + one_line(c.by) + "\naccepted at = " + one_line(c.at_utc) +
           "\nwhy = " + one_line(c.why) + "\n";
}

}  // namespace

std::optional<std::vector<AcceptedChange>> parse_accepted(const std::string& text, std::string& error) {
    std::vector<AcceptedChange> found;
    std::size_t number = 0, at = 0;
    const auto fail = [&](const std::string& why) {
        error = "line " + std::to_string(number) + ": " + why;
        return std::nullopt;
    };
    while (at < text.size()) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        const std::string line = trimmed(text.substr(at, end - at));
        at = end + 1;
        ++number;
        if (line.empty() || line[0] == '#') continue;
        if (line == kBlock) {
            found.emplace_back();
            continue;
        }
        const std::size_t equals = line.find('=');
        if (found.empty()) return fail("\"" + line + "\" before the first " + kBlock);
        if (equals == std::string::npos) return fail("\"" + line + "\" is not KEY = VALUE");
        std::string why;
        if (!set_field(found.back(), trimmed(line.substr(0, equals)), trimmed(line.substr(equals + 1)), why)) {
            return fail(why);
        }
    }
    for (const AcceptedChange& change : found) {
        if (change.host.empty() || change.build.empty() || change.first_call.empty()) {
            error = "an accepted change without its host, build or first call";
            return std::nullopt;
        }
    }
    return found;
}

std::string with_accepted(const std::string& text, const AcceptedChange& change) {
    return (text.empty() ? file_header() : text) + block_of(change);
}

std::optional<std::vector<AcceptedChange>> load_accepted(const std::string& path, std::string& text,
                                                         std::string& error) {
    text.clear();
    std::error_code code;
    if (!std::filesystem::exists(path, code)) return std::vector<AcceptedChange>{};
    std::ifstream in(path, std::ios::binary);
    std::ostringstream read;
    if (in) read << in.rdbuf();
    if (!in || in.bad()) {
        error = path + ": cannot be read";
        return std::nullopt;
    }
    text = read.str();
    auto changes = parse_accepted(text, error);
    if (!changes) error = path + ": " + error;
    return changes;
}

}  // namespace ptrun
