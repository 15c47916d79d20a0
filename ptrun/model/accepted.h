// The changes of a series that people have accepted: a small text file in
// the results folder, read by every later `ptrun history` over it, written
// a block at a time by `ptrun history --accept`. It is meant to be read and
// edited by hand:
//
//   # ptrun history: accepted changes. ...
//
//   [accepted change]
//   host = web-1
//   build = /opt/pt/bin/pt
//   copies = 1
//   first call = 3f0c4e...
//   accepted by = alice
//   accepted at = 2026-11-05T09:12:00Z
//   why = the new kernel's mitigations, agreed in ticket 123
//
// A build of a call that ran more than one adds "build id = B".
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace ptrun {

// Its name in the results folder.
inline constexpr const char* kAcceptedFileName = "accepted-changes.txt";

struct AcceptedChange {
    std::string host, build, build_id = "A";  // the series, as history names it
    int copies = 1;
    std::string first_call;  // the call id of the first call after the change
    std::string by, at_utc, why;
};

// The file's accepted changes, in the order written; nothing and why, with
// its line, for a file that is not one.
std::optional<std::vector<AcceptedChange>> parse_accepted(const std::string& text, std::string& error);

// The file's text with the change added: its header first where it is new (empty).
std::string with_accepted(const std::string& text, const AcceptedChange& change);

// The file's text and its changes; an empty text and none where there is no
// such file. Nothing, and why, for a file that cannot be read or is not one.
std::optional<std::vector<AcceptedChange>> load_accepted(const std::string& path, std::string& text,
                                                         std::string& error);

}  // namespace ptrun
