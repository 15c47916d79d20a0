// Fuzz target of ptrun's one results reader: whatever the bytes, reading
// answers with a document or a message, never a crash; a document it accepts
// is written and read back, merged (and that written and read back) and
// reported without a fault.
#include <cstddef>
#include <cstdint>
#include <string>

#include "ptrun/decide/analyse.h"
#include "ptrun/model/merge.h"
#include "ptrun/model/reader.h"
#include "ptrun/model/writer.h"
#include "ptrun/present/formats.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string error;
    const std::optional<ptrun::Document> doc = ptrun::parse_results(text, "input", error);
    if (!doc) return 0;
    // What the writer writes, the reader reads.
    const std::optional<ptrun::Document> again = ptrun::parse_results(ptrun::dump(*doc), "written", error);
    if (!again) __builtin_trap();
    try {
        ptrun::Document merged = ptrun::merge_documents({{"input", *doc}});
        ptrun::analyse(merged);  // as merge and report do
        // A merged file, which leaves fields out at their defaults, reads back too.
        if (!ptrun::parse_results(ptrun::dump(merged), "merged", error)) __builtin_trap();
        (void)ptrun::find_format("md")->report(merged);
        (void)ptrun::find_format("html")->report(merged);
        (void)ptrun::find_format("csv")->report(merged);
    } catch (const ptrun::MergeConflict&) {
        // A file that gives one run twice with different contents: refused, as it should be.
    }
    return 0;
}
