// Where a text made in pieces goes, each piece as it is made: the one kind of
// output sink, which the writer fills and system/output.h writes out.
#pragma once

#include <functional>
#include <string>

namespace ptrun {

using TextSink = std::function<void(const std::string&)>;

}  // namespace ptrun
