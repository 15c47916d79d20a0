// JSON: the results document itself, for whatever reads results files.
#include "present/formats.h"

#include "model/writer.h"

namespace ptrun {

// The one writer's text: what `ptrun merge` writes of the same files.
std::string report_json(const Document& doc) { return dump(doc); }

}  // namespace ptrun
