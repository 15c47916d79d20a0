// Writing what the user asked for: a file replaced whole, never half-written,
// or standard output; and nothing else.
#pragma once

#include <functional>
#include <string>

#include "model/sink.h"

namespace ptrun {

// Where --json FILE (or another option's FILE, named in the messages) writes:
// "-" and any name of ptrun's own standard output
// (such as /dev/stdout) mean standard output; a link means the file it names.
struct Target {
    bool standard_output = false;
    std::string file;  // the regular file replaced, links followed
};

// What name means, checked now, before any run: a regular file or a new one
// in a folder ptrun may write. Empty, and why in error, for anything else
// (a device, FIFO, socket or folder, a link to nothing, a read-only file).
bool resolve_target(const std::string& name, Target& target, std::string& error,
                    const std::string& option = "--json");

// Writes text as the file path, made or emptied first; a link there is not
// followed. False when any of it was lost.
bool write_plain_file(const std::string& path, const std::string& text);

// Writes text to the target: standard output, or a private temporary file
// beside the file, with the file's mode (POSIX), flushed to disk and renamed
// onto it; false,
// and why in error, when that failed (the file is then untouched).
bool write_output(const Target& target, const std::string& text, std::string& error);
// The same for a text made in pieces, never held whole: produce hands each
// piece to the sink it is given.
bool write_output(const Target& target, const std::function<void(const TextSink&)>& produce, std::string& error);

}  // namespace ptrun
