// Wrappers of the CALM methods of Graph; see calm_methods.h.
#include "python/interchange/calm_methods.h"

#include "calm/export.h"
#include "calm/import.h"
#include "common/cancellation.h"
#include "common/dropping.h"
#include "python/core_errors.h"
#include "python/graph_class.h"
#include "json/writer.h"

namespace vok::python {

namespace {

// Drops the records of the document's arrays from their ends, one at a time, and then the rest.
// Dropped whole, the document's arrays would each be gathered into json::drop_in_steps's list of
// pending values in one step: some ten megabytes of fresh memory for a large graph.
void drop_document(json::Value& document) {
    const HandOffOnUnwind hand_off(document);
    for (json::Object::Entry& entry : document.as_object()) {
        if (!entry.second.is_array()) continue;
        json::Array& records = entry.second.as_array();
        while (!records.empty()) {
            poll_cancellation();
            json::Value record = std::move(records.back());
            records.pop_back();
            json::drop_in_steps(record);
        }
    }
    json::drop_in_steps(document);
}

} // namespace

// The document is dropped in steps after it is written, and handed off when the writing is
// stopped, so that a Ctrl-C is not held up by freeing it (common/dropping.h).
PyResult<std::string> export_calm_text(const Graph& self) {
    json::Value document = calm::export_calm(self);
    std::string text;
    {
        const HandOffOnUnwind hand_off(document);
        text = json::to_pretty_string(document);
    }
    drop_document(document);
    return text;
}

// Units named by resource nodes are only looked up in the process-wide registry, never added.
PyResult<Graph> import_calm_graph(Args& args) {
    VOK_ASSIGN(std::string_view calm_json, args.text(0));
    return core_result(calm::import_calm(calm_json));
}

} // namespace vok::python
