// The module function that computes a pack's content hash (signing and verification are in
// signature_functions.h).
//
// `compute_pack_hash(pack_json)` reads a pack document and returns its content hash; a text that
// is not a readable pack is a ValueError "Invalid pack JSON: " followed by the reader's message
// and position.
#pragma once

#include "python/binding/rows.h"

namespace vok::python {

extern const FunctionRow kComputePackHash;

} // namespace vok::python
