// Wrappers of the CALM methods of Graph; see calm_methods.h.
#include "python/interchange/calm_methods.h"

#include "calm/export.h"
#include "calm/import.h"
#include "common/dropping.h"
#include "python/core_errors.h"
#include "python/graph_class.h"
#include "json/writer.h"

namespace vok::python {

// The document is dropped in steps after it is written, and handed off when the writing is
// stopped, so that a Ctrl-C is not held up by freeing it (common/dropping.h).
PyResult<std::string> export_calm_text(const Graph& self) {
    json::Value document = calm::export_calm(self);
    std::string text;
    {
        const HandOffOnUnwind hand_off(document);
        text = json::to_pretty_string(document);
    }
    json::drop_in_steps(document);
    return text;
}

// Units named by resource nodes are only looked up in the process-wide registry, never added.
PyResult<Graph> import_calm_graph(Args& args) {
    VOK_ASSIGN(std::string_view calm_json, args.text(0));
    return core_result(calm::import_calm(calm_json));
}

} // namespace vok::python
