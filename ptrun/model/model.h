// What a document of one call says of that call, and the ids made up from texts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/document.h"

namespace ptrun {

// The call a document's top level describes: its one call, or for several
// the merge of them (the calls' span of time, the worst outcome, the id the
// same calls always make, the first call's command line and settings).
CallRecord whole_call(const Document& document);

// 16 hex digits that stand for a text (FNV-1a), given whole or in pieces:
// the id of a call made up from its content, or of a merge from its calls' ids.
class Digest {
public:
    void add(const std::string& text);
    std::string hex() const;
    std::uint64_t value() const { return hash_; }

private:
    std::uint64_t hash_ = 14695981039346656037ull;
};
std::string hex_digest(const std::string& text);

}  // namespace ptrun
