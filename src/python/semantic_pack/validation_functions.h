// The module functions that validate packs: `validate_semantic_pack(pack_json)`, the structural
// findings of one pack as a list of diagnostic JSON texts in check order, and
// `validate_graph_with_pack(pack_json, source, options_json)`, a whole validation result as JSON
// text. The pack is read before the options; a text that cannot be read is a ValueError "Invalid
// pack JSON: " or "Invalid options JSON: " followed by the reader's message and position.
#pragma once

#include "python/binding/rows.h"

namespace vok::python {

extern const FunctionRow kValidateSemanticPack;
extern const FunctionRow kValidateGraphWithPack;

} // namespace vok::python
