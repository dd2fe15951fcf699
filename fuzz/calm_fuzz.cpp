// Fuzzes the CALM import with any text, then the export of every graph it accepts and the import
// of that export. The second import may refuse: not every accepted document survives the trip
// (texts with quotes in policy expressions, associations that name no node).
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "calm/export.h"
#include "calm/import.h"
#include "json/writer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    auto graph = vok::calm::import_calm(text);
    if (!graph.ok()) return 0;
    const std::string exported = vok::json::to_pretty_string(vok::calm::export_calm(*graph));
    (void)vok::calm::import_calm(exported);
    return 0;
}
