// The module function that builds packs: `build_semantic_pack(input_json)` reads a build input
// from JSON text, builds, and returns (pack_json, [diagnostic_json, ...]). A refused approved build
// gives the empty text and the findings that refused it; a built pack comes with its findings
// followed by the ambiguous-alias-group warnings. An unreadable input is a ValueError "Invalid
// build input JSON: " followed by the reader's message and position.
#pragma once

#include "python/binding/rows.h"

namespace vok::python {

extern const FunctionRow kBuildSemanticPack;

} // namespace vok::python
